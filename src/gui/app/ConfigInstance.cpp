#include "app/ConfigInstance.h"

TConfig &Config() {
    static TConfig Instance;
    return Instance;
}

TConfig &ResetConfig() {
    Config().Assign(TConfig());
    return Config();
}
