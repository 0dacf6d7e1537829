// Effect framework: the registry of effect classes, the named effect instances with their
// own clocks, and the value parsers every effect's `set` uses
// (platform/values.h).
//
// Every visual element is an `Effect` created by class name from an `EffectClass` record.
// Start-up registers the 25 classes of the program (`registerBuiltinEffectClasses`, in their
// fixed order) once the file lookup exists and before the script is read.
// The script's effect declarations call `createEffect`; the timeline calls
// `setEffectProperty` for property events and fades and `renderEffect` for every running
// action; the main loop calls `recreateEffects` when the production loops; shutdown calls
// `destroyEffects` and then `closeEffectClasses`.
//
// Instances are found by exact name, newest first. Each keeps a local clock that runs only
// while it is rendered: `renderEffect` starts it where `stopEffect` left it. All clock
// arithmetic is unsigned 32-bit (1/65536 s) and wraps.
//
// Log lines carry the prefix "EFCT: ". Everything runs on the main thread; nothing is locked.
#pragma once

#include "platform/values.h"

#include <cstdint>

class Effect {
  public:
    virtual ~Effect();
    // Draws one frame. time: the instance's local time in 1/65536 s; songPosition: the
    // packed position order << 16 | row << 8 | tick, as the music player gave it.
    virtual void render(uint32_t time, uint32_t songPosition);
    // Changes one property; unknown names are ignored.
    virtual void set(const char* name, const char* value);
};

struct EffectClass {
    const char* name = nullptr;                     // class name used by scripts, case-sensitive
    bool (*globalInit)() = nullptr;                 // once at registration; false is fatal
    void (*globalClose)() = nullptr;                // once at shutdown
    Effect* (*create)() = nullptr;                  // new effect object, or nullptr
    Effect* (*recreate)(Effect* current) = nullptr; // deletes current, returns a new one
};

struct EffectInstance {
    char name[64] = {};       // instance name given by the script
    uint32_t startOffset = 0; // timeline time at which local time 0 lies
    uint32_t lastTime = 0;    // timeline time of the last renderEffect
    uint32_t accumulated = 0; // local time reached when last stopped
    int32_t running = 0;      // 1 while the instance runs
    uint32_t renders = 0;     // renderEffect calls, for offline reports
    Effect* effect = nullptr; // owned
    const EffectClass* effectClass = nullptr;
    EffectInstance* next = nullptr;
};

void registerEffectClass(const EffectClass& effectClass);
// Registers the program's 25 classes in their fixed order; start-up calls it once. A second
// call does nothing until closeEffectClasses.
void registerBuiltinEffectClasses();
void closeEffectClasses();
// Calls visit for every registered class, in lookup order (newest registration first).
void forEachEffectClass(void (*visit)(const EffectClass& effectClass, void* user), void* user);

// Calls visit for every instance, newest first.
void forEachEffectInstance(void (*visit)(const EffectInstance& instance, void* user), void* user);

bool createEffect(const char* instanceName, const char* className);
void renderEffect(const char* instanceName, uint32_t now, uint32_t songPosition);
void stopEffect(const char* instanceName);
void setEffectProperty(const char* instanceName, const char* propertyName, const char* value);
// The same for an instance found once (the timeline resolves its names when it starts); a
// null instance does nothing.
void renderEffect(EffectInstance* instance, uint32_t now, uint32_t songPosition);
void setEffectProperty(EffectInstance* instance, const char* propertyName, const char* value);
void recreateEffects();
// A build pass run again (a loop, a reloaded script) declares every instance once more, and
// lookups find the newest entry of a name first. The older entries of those names are never
// reached again: this deletes them with their effect objects, so that a production looping
// for hours holds one set of effects and not one per pass. Call it once the timeline has
// found its instances anew.
void dropShadowedEffects();
void destroyEffects();
// The newest instance of a name, or nullptr.
EffectInstance* findEffectInstance(const char* instanceName);

// Helpers for class records: a create and a recreate that make a T.
template <class T> Effect* createEffectOf() {
    return new T();
}
template <class T> Effect* recreateEffectOf(Effect* current) {
    delete current;
    return new T();
}
