// Effect registry and the instance list with its clocks.
#include "effects/effect.h"

#include "effects/classes_local.h"

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
bool builtinsRegistered = false;

const EffectClass* findClass(const char* className) {
    for (ClassNode* node = classRegistry; node; node = node->next)
        if (strcmp(node->effectClass->name, className) == 0) return node->effectClass;
    return nullptr;
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
    if (builtinsRegistered) return;
    builtinsRegistered = true;
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
    builtinsRegistered = false;
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

void forEachEffectInstance(void (*visit)(const EffectInstance&, void*), void* user) {
    for (EffectInstance* instance = instanceList; instance; instance = instance->next)
        visit(*instance, user);
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
    renderEffect(findEffectInstance(instanceName), now, songPosition);
}

void renderEffect(EffectInstance* instance, uint32_t now, uint32_t songPosition) {
    if (!instance) return;
    if (!instance->running) {
        instance->running = 1;
        instance->startOffset = now - instance->accumulated;
    }
    if (instance->effect) instance->effect->render(now - instance->startOffset, songPosition);
    instance->lastTime = now;
    ++instance->renders;
}

void stopEffect(const char* instanceName) {
    EffectInstance* instance = findEffectInstance(instanceName);
    if (!instance) return;
    instance->running = 0;
    instance->accumulated = instance->lastTime - instance->startOffset;
}

void setEffectProperty(const char* instanceName, const char* propertyName, const char* value) {
    setEffectProperty(findEffectInstance(instanceName), propertyName, value);
}

void setEffectProperty(EffectInstance* instance, const char* propertyName, const char* value) {
    if (instance && instance->effect) instance->effect->set(propertyName, value);
}

void recreateEffects() {
    for (EffectInstance* instance = instanceList; instance; instance = instance->next)
        instance->effect = instance->effectClass->recreate(instance->effect);
}

void dropShadowedEffects() {
    for (EffectInstance* newer = instanceList; newer; newer = newer->next) {
        EffectInstance* kept = newer;
        while (EffectInstance* older = kept->next) {
            if (strncmp(older->name, newer->name, sizeof older->name) != 0) {
                kept = older;
                continue;
            }
            kept->next = older->next;
            delete older->effect;
            delete older;
        }
    }
}

void destroyEffects() {
    while (instanceList) {
        EffectInstance* instance = instanceList;
        instanceList = instance->next;
        delete instance->effect;
        delete instance;
    }
}
