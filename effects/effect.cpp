// Effect registry, instance list with clocks, value parsers.
#include "effects/effect.h"

#include "platform/config.h"
#include "platform/log.h"

#include <cstdlib>
#include <cstring>

namespace {

struct ClassNode {
    const EffectClass* effectClass;
    ClassNode* next;
};

ClassNode* classRegistry = nullptr;     // newest registration first
EffectInstance* instanceList = nullptr; // newest instance first

const EffectClass* findClass(const char* className) {
    for (ClassNode* node = classRegistry; node; node = node->next)
        if (strcmp(node->effectClass->name, className) == 0) return node->effectClass;
    return nullptr;
}

// The registry holds every class before main runs; this TU is always linked in because
// it defines createEffect.
struct StaticRegistration {
    StaticRegistration() { registerBuiltinEffectClasses(); }
};
StaticRegistration staticRegistration;

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

Effect::~Effect() = default;
void Effect::render(uint32_t, uint32_t) {}
void Effect::set(const char*, const char*) {}

void registerEffectClass(const EffectClass& effectClass) {
    if (effectClass.globalInit && !effectClass.globalInit())
        fatal("effect '%s' global init failed\n", effectClass.name);
    classRegistry = new ClassNode{&effectClass, classRegistry};
}

void registerBuiltinEffectClasses() {
    static const EffectClass* const classes[] = {
        &gridEffectClass,          &motionblurEffectClass,   &fadeEffectClass,
        &multitextEffectClass,     &gledEffectClass,         &designboxEffectClass,
        &designlinesEffectClass,   &clearEffectClass,        &yodawriterEffectClass,
        &gled2EffectClass,         &letterwriterEffectClass, &scrollerEffectClass,
        &fadeblocksEffectClass,    &pilztumEffectClass,      &torusfaderEffectClass,
        &imagescrollerEffectClass, &maxEffectClass,          &tmxcontrolEffectClass,
        &imageEffectClass,         &crashzoomEffectClass,    &rainEffectClass,
        &vexwriterEffectClass,     &matrixEffectClass,       &plasma1EffectClass,
        &lofiEffectClass,
    };
    for (const EffectClass* effectClass : classes)
        registerEffectClass(*effectClass);
}

void closeEffectClasses() {
    while (classRegistry) {
        ClassNode* node = classRegistry;
        classRegistry = node->next;
        if (node->effectClass->globalClose) node->effectClass->globalClose();
        delete node;
    }
}

void forEachEffectClass(void (*visit)(const EffectClass&, void*), void* user) {
    for (ClassNode* node = classRegistry; node; node = node->next)
        visit(*node->effectClass, user);
}

bool createEffect(const char* instanceName, const char* className) {
    const EffectClass* effectClass = findClass(className);
    if (!effectClass) {
        logf("EFCT: effect '%s' is unknown.\n", className);
        return false;
    }
    Effect* effect = effectClass->create ? effectClass->create() : nullptr;
    if (!effect) {
        logf("EFCT: couldn't create instance of effect '%s'\n", className);
        return false;
    }
    EffectInstance* instance = new EffectInstance;
    copyName(instance->name, instanceName);
    instance->effect = effect;
    instance->effectClass = effectClass;
    instance->next = instanceList;
    instanceList = instance;
    return true;
}

EffectInstance* findEffectInstance(const char* instanceName) {
    for (EffectInstance* instance = instanceList; instance; instance = instance->next)
        if (strncmp(instance->name, instanceName, sizeof instance->name - 1) == 0) return instance;
    return nullptr;
}

void renderEffect(const char* instanceName, uint32_t now, uint32_t songPosition) {
    EffectInstance* instance = findEffectInstance(instanceName);
    if (!instance) return;
    if (!instance->running) {
        instance->running = 1;
        instance->startOffset = now - instance->accumulated;
    }
    if (instance->effect) instance->effect->render(now - instance->startOffset, songPosition);
    instance->lastTime = now;
}

void stopEffect(const char* instanceName) {
    EffectInstance* instance = findEffectInstance(instanceName);
    if (!instance) return;
    instance->running = 0;
    instance->accumulated = instance->lastTime - instance->startOffset;
}

void setEffectProperty(const char* instanceName, const char* propertyName, const char* value) {
    EffectInstance* instance = findEffectInstance(instanceName);
    if (instance && instance->effect) instance->effect->set(propertyName, value);
}

void recreateEffects() {
    for (EffectInstance* instance = instanceList; instance; instance = instance->next)
        instance->effect = instance->effectClass->recreate(instance->effect);
}

void destroyEffects() {
    while (instanceList) {
        EffectInstance* instance = instanceList;
        instanceList = instance->next;
        delete instance->effect;
        delete instance;
    }
}

int32_t parseIntValue(const char* text) {
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        uint32_t value = 0;
        for (const char* c = text + 2; hexDigit(*c) >= 0; ++c)
            value = value * 16 + hexDigit(*c);
        return int32_t(value);
    }
    return int32_t(strtol(text, nullptr, 10)); // atoi without its undefined overflow
}

int32_t truncToInt(double value) {
    if (!(value == value)) return 0;
    if (value >= 2147483647.0) return INT32_MAX;
    if (value <= -2147483648.0) return INT32_MIN;
    return int32_t(value);
}

float preferredWidth() {
    return configValues.prefxres > 0 ? float(configValues.prefxres) : 640.0f;
}
float preferredHeight() {
    return configValues.prefyres > 0 ? float(configValues.prefyres) : 480.0f;
}

double parseDecimal(const char* text) {
    char number[128]; // longer numbers lose only digits that a float cannot hold anyway
    size_t length = 0;
    const char* c = text;
    auto put = [&] {
        if (length + 1 < sizeof number) number[length++] = *c;
        ++c;
    };
    auto isDigit = [](char d) { return d >= '0' && d <= '9'; };
    auto digits = [&] {
        while (isDigit(*c))
            put();
    };
    while (*c == ' ' || (*c >= '\t' && *c <= '\r'))
        ++c;
    if (*c == '+' || *c == '-') put();
    digits();
    if (*c == '.') {
        put();
        digits();
    }
    if ((*c == 'e' || *c == 'E') &&
        (isDigit(c[1]) || ((c[1] == '+' || c[1] == '-') && isDigit(c[2])))) {
        put();
        if (*c == '+' || *c == '-') put();
        digits();
    }
    number[length] = 0;
    return strtod(number, nullptr);
}

float parseScalar(const char* text) {
    float value = float(parseDecimal(text));
    if (strchr(text, '%')) return value / 100.0f;
    if (strchr(text, 'x')) return value / preferredWidth();
    if (strchr(text, 'y')) return value / preferredHeight();
    return value;
}
