#include "gpu_fixture.h"
