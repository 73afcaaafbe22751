#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "serial/Compare.h"

namespace Zivaraze::tool {

// A growable list that sorts itself by the ordering it was given.
template <typename T>
class SortVector : public std::vector<T> {
  public:
    explicit SortVector(const Compare<T>& compare) : compare(compare) {}

    void sort() {
        if (this->size() > 1) quickSort(0, static_cast<long>(this->size()) - 1);
    }

    // Sorts the elements lo..hi inclusive. Recurses into the smaller part only, so the depth stays
    // logarithmic even for an already sorted list.
    void quickSort(long lo, long hi) {
        while (lo < hi) {
            const T pivot = (*this)[static_cast<std::size_t>(lo + (hi - lo) / 2)];
            long i = lo, j = hi;
            while (i <= j) {
                while (compare.lessThan((*this)[static_cast<std::size_t>(i)], pivot))
                    ++i;
                while (compare.lessThan(pivot, (*this)[static_cast<std::size_t>(j)]))
                    --j;
                if (i <= j) swapElements(i++, j--);
            }
            if (j - lo < hi - i) {
                quickSort(lo, j);
                lo = i;
            } else {
                quickSort(i, hi);
                hi = j;
            }
        }
    }

    void swapElements(long i, long j) {
        std::swap((*this)[static_cast<std::size_t>(i)], (*this)[static_cast<std::size_t>(j)]);
    }

  private:
    const Compare<T>& compare;
};

}  // namespace Zivaraze::tool
