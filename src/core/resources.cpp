#include "core/resources.h"

#include <QtGlobal>

static void init_asset_resources() {
    Q_INIT_RESOURCE(ostrel_assets);
    Q_INIT_RESOURCE(ostrel_help);
}

namespace ostrel {

void init_resources() {
    init_asset_resources();
}

}  // namespace ostrel
