// Effect framework: the registry of effect classes, the named effect instances with their
// own clocks, and the value parsers every effect's `set` uses.
//
// Every visual element is an `Effect` created by class name from an `EffectClass` record.
// The 25 classes of the program register during static initialisation (in the fixed order
// of `registerBuiltinEffectClasses`), so the registry is complete before the script is read.
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
    Effect* effect = nullptr; // owned
    const EffectClass* effectClass = nullptr;
    EffectInstance* next = nullptr;
};

void registerEffectClass(const EffectClass& effectClass);
// Registers the program's 25 classes in their fixed order. Static initialisation calls it
// once; after closeEffectClasses it may be called again (tests).
void registerBuiltinEffectClasses();
void closeEffectClasses();
// Calls visit for every registered class, in lookup order (newest registration first).
void forEachEffectClass(void (*visit)(const EffectClass& effectClass, void* user), void* user);

bool createEffect(const char* instanceName, const char* className);
void renderEffect(const char* instanceName, uint32_t now, uint32_t songPosition);
void stopEffect(const char* instanceName);
void setEffectProperty(const char* instanceName, const char* propertyName, const char* value);
void recreateEffects();
void destroyEffects();
// The newest instance of a name, or nullptr.
EffectInstance* findEffectInstance(const char* instanceName);

// "0x"/"0X" prefix: hexadecimal digits up to the first other character; else as atoi.
int32_t parseIntValue(const char* text);
// A decimal number at the start of the text as atof reads it (leading blanks, sign, digits,
// fraction, exponent), 0 when there is none. Hexadecimal, "inf" and "nan" are not numbers
// here, so the value of a text does not depend on the C library's extensions.
double parseDecimal(const char* text);
// '%' anywhere: value / 100; else 'x' anywhere: value / prefxres; else 'y' anywhere:
// value / prefyres; else the value (read by parseDecimal). An unset preferred resolution counts
// as 640 x 480.
float parseScalar(const char* text);

// Truncation toward zero that saturates at the int32 range (NaN gives 0), for numbers
// that scripts write as floats and that are used as integers.
int32_t truncToInt(double value);

// The divisors of numbers written with an "x" or "y" suffix: the preferred resolution,
// or 640 x 480 while it is not set.
float preferredWidth();
float preferredHeight();

// Effect class records of the program, in registration order. Each is defined beside its
// effect; the classes whose drawing is not built yet share the do-nothing effect of
// effects/pending.cpp.
extern const EffectClass gridEffectClass;
extern const EffectClass motionblurEffectClass;
extern const EffectClass fadeEffectClass;
extern const EffectClass multitextEffectClass;
extern const EffectClass gledEffectClass;
extern const EffectClass designboxEffectClass;
extern const EffectClass designlinesEffectClass;
extern const EffectClass clearEffectClass;
extern const EffectClass yodawriterEffectClass;
extern const EffectClass gled2EffectClass;
extern const EffectClass letterwriterEffectClass;
extern const EffectClass scrollerEffectClass;
extern const EffectClass fadeblocksEffectClass;
extern const EffectClass pilztumEffectClass;
extern const EffectClass torusfaderEffectClass;
extern const EffectClass imagescrollerEffectClass;
extern const EffectClass maxEffectClass;
extern const EffectClass tmxcontrolEffectClass;
extern const EffectClass imageEffectClass;
extern const EffectClass crashzoomEffectClass;
extern const EffectClass rainEffectClass;
extern const EffectClass vexwriterEffectClass;
extern const EffectClass matrixEffectClass;
extern const EffectClass plasma1EffectClass;
extern const EffectClass lofiEffectClass;

// Helpers for class records: a create and a recreate that make a T.
template <class T> Effect* createEffectOf() {
    return new T();
}
template <class T> Effect* recreateEffectOf(Effect* current) {
    delete current;
    return new T();
}
