#include "app/CatalogText.h"

#include "base/MessageCatalog.h"

namespace rszorvik {

QString catalogText(const char* key) {
    const auto& catalog = base::MessageCatalog::get("rszorvik.zorvik");
    if (!catalog.containsKey(key)) return QString::fromUtf8(key);
    return QString::fromStdString(catalog.getString(key));
}

}  // namespace rszorvik
