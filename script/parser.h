// The script language: declarations, the demo block and its commands.
//
// A `Script` is built from the preprocessor's output (script/preprocessor.h) and parsed
// twice by start-up: `parse(true)`, the dry run, only collects the global "set" settings
// (read them with `forEachGlobal`; the music is not loaded yet, so no song position is
// resolved); `parse(false)` builds everything: render targets, viewports, effect instances
// (created in the effect framework, effects/effect.h), macros, and the three lists the
// timeline plays, sorted stably: events by time, fades by start, actions by z. The main loop
// runs the build pass again when the production loops. What a parse read is never changed by
// playing it: the timeline keeps its playback state in a runtime form (script/timeline.h).
//
// Before every timeline command the parser calls the message pump that the shell sets with
// `setScriptMessagePump`, so the window stays responsive during long parses.
//
// Every error is a parse error of the reader (script/reader.h) and ends the program. The one
// warning is "SCRP: warning - effect '%s' isn't running at that time (second %.2f)\n".
#pragma once

#include "script/reader.h"
#include "script/timeexpr.h"

#include <cstdint>
#include <vector>

class Stream;

struct GlobalSetting {
    char key[64] = {};
    char value[256] = {};
};

struct TargetDecl {
    char name[64] = {};
    float width = 0; // <= 8.0: multiple of the screen size; larger: pixels
    float height = 0;
};

struct ViewportDecl {
    char name[64] = {};
    float x = 0, y = 0, width = 0, height = 0; // fractions of the target
    int32_t target = 0;                        // index into targets
};

struct EffectDecl {
    char className[64] = {};
    char instanceName[64] = {};
};

struct BindingDecl {
    char target[64] = {}; // the name after "to"
    char bound[64] = {};  // the name after "bind"
};

struct MacroDecl {
    char name[64] = {};
    ReaderPosition body; // just behind the name
};

struct Event {
    int32_t time = 0;    // 1/65536 s; -1 for the initial settings
    int32_t effect = -1; // index into effects; -1: terminate with the value as message
    char property[64] = {};
    char value[768] = {};
};

struct Fade {
    uint32_t start = 0;
    uint32_t end = 0;
    int32_t effect = 0;
    char property[64] = {};
    float from = 0, to = 0;
    float exponent = 1.0f;
};

struct Action {
    uint32_t start = 0;
    uint32_t end = 0;
    int32_t effect = 0;
    int32_t z = 0;
    int32_t viewport = 0; // index into viewports
};

namespace scrp {

// The actions of one effect ordered by start, each node knowing the latest end below it, so
// that "which action holds time t" costs a walk down a balanced tree instead of a scan.
// Of two actions that both hold a time, the one with the later start was made first (the
// other could not have started inside it), which is the one `holder` answers.
class RunIndex {
  public:
    void insert(uint32_t start, uint32_t end, int32_t action);
    int32_t holder(uint32_t t) const; // start <= t < end, latest start; -1 when none
    void shorten(uint32_t start, int32_t action, uint32_t end);

  private:
    struct Node {
        uint32_t start = 0, end = 0;
        uint32_t latestEnd = 0; // the latest end in this subtree
        int32_t action = 0;
        uint32_t priority = 0;
        int32_t left = -1, right = -1;
    };
    bool before(int32_t a, uint32_t start, int32_t action) const;
    void update(int32_t node);
    int32_t insertBelow(int32_t node, int32_t fresh);
    int32_t find(int32_t node, uint32_t t) const;
    bool shortenBelow(int32_t node, uint32_t start, int32_t action, uint32_t end);

    std::vector<Node> nodes;
    int32_t root = -1;
    uint32_t seed = 0x9e3779b9u;
};

} // namespace scrp

// Called before every timeline command; the shell sets it (nullptr: none).
void setScriptMessagePump(void (*pump)());
// Runs the pump set above, if any (the timeline pumps between its loading steps too).
void pumpScriptMessages();

class Script {
  public:
    static constexpr uint32_t kNever = 0xFFFFFFFE;   // demo end without "runs" or "stopdemo"
    static constexpr int kMaxMacroDepth = 64;        // macros playing macros
    static constexpr int32_t kMaxCommands = 1000000; // commands per parse, macros expanded

    // Copies the text from the stream's current position; lines (may be null) map it back
    // to the source files for error messages.
    Script(Stream* text, const SourceLines* lines);
    Script(const char* text, int32_t size, const SourceLines* lines);

    bool parse(bool dryRun); // false only when the text is empty
    int32_t forEachGlobal(void (*handler)(const char* key, const char* value)) const;

    const std::vector<GlobalSetting>& globals() const { return globalList; }
    const std::vector<TargetDecl>& targets() const { return targetList; }
    const std::vector<ViewportDecl>& viewports() const { return viewportList; }
    const std::vector<EffectDecl>& effects() const { return effectList; }
    const std::vector<BindingDecl>& bindings() const { return bindingList; }
    const std::vector<MacroDecl>& macros() const { return macroList; }
    const std::vector<Event>& events() const { return eventList; }
    const std::vector<Fade>& fades() const { return fadeList; }
    const std::vector<Action>& actions() const { return actionList; }
    uint32_t demoEnd() const { return endOfDemo; }

    ScriptReader& reader() { return textReader; }
    TimeExpressions& times() { return timeExpressions; }

    int32_t findTarget(const char* name);
    int32_t findEffect(const char* name);
    int32_t findMacro(const char* name);
    int32_t findViewport(const char* name);

  private:
    void clearLists();
    bool readDeclaration(bool dryRun);
    void readDemoBlock(bool dryRun);
    void readInitialSettings();
    // Reads one command at start time t; now is where the previous command left off.
    // Returns false (nothing consumed) when the next word is not a command.
    bool readCommand(uint32_t t, uint32_t now, uint32_t* result);
    uint32_t readEnd(uint32_t start, uint32_t fallback);
    void readPropertyWord(char (&effectName)[64], char (&property)[64]);
    void startCommand(uint32_t t);
    bool stopCommand(uint32_t t);
    uint32_t fadeCommand(uint32_t t);
    void setCommand(uint32_t t);
    uint32_t playCommand(uint32_t t);
    uint32_t playMacro(const MacroDecl& macro, int32_t times, uint32_t start);

    ScriptReader textReader;
    TimeExpressions timeExpressions{textReader};
    std::vector<GlobalSetting> globalList;
    std::vector<TargetDecl> targetList;
    std::vector<ViewportDecl> viewportList;
    std::vector<EffectDecl> effectList;
    std::vector<BindingDecl> bindingList;
    std::vector<MacroDecl> macroList;
    std::vector<Event> eventList;
    std::vector<Fade> fadeList;
    std::vector<Action> actionList;
    std::vector<scrp::RunIndex> runsOf; // per effect: its actions
    uint32_t endOfDemo = kNever;
    int32_t currentZ = 0;
    int32_t macroDepth = 0;
    int32_t commandCount = 0;
};
