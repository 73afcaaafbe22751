// Scratch: a value read where only some paths set it, which only an optimised build reports.
namespace rszorvik::base {

int scratchPick(bool first, int a) {
    int value;
    if (first) value = a;
    return value + 1;
}

}  // namespace rszorvik::base
