#include "data/depacker.h"

Depacker* depackerFor(uint32_t method) {
    switch (method) {
    case 1:
        return method1Depacker();
    case 2:
        return method2Depacker();
    default:
        return nullptr; // 0 is stored, handled by the callers; others are unknown
    }
}
