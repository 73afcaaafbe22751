#include "app/CatalogText.h"

#include "app/Texts.h"
#include "base/MessageCatalog.h"

namespace rszorvik {

QString catalogText(const char* key) {
    try {
        return texts::app(key);
    } catch (const base::MissingResourceError&) {
        return QString::fromUtf8(key);
    }
}

}  // namespace rszorvik
