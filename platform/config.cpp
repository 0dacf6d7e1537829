#include "platform/config.h"

ConfigValues configValues;
