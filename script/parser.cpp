// Script language: declarations, demo block, commands, macros, sorting.
//
// Sections: declarations - demo block - commands - macros.
#include "script/parser.h"

#include "effects/effect.h"
#include "platform/config.h"
#include "platform/log.h"

#include <algorithm>
#include <cstring>

namespace {

void (*messagePump)() = nullptr;

bool isWord(const char* token, const char* word) {
    return strcmp(token, word) == 0;
}

double seconds(uint32_t time) {
    return double(time) / 65536.0;
}

template <class T> int32_t findByName(const std::vector<T>& list, const char* name) {
    for (size_t i = 0; i < list.size(); ++i)
        if (strcmp(list[i].name, name) == 0) return int32_t(i);
    return -1;
}

} // namespace

// --- the actions of an effect by start ------------------------------------------------------

namespace scrp {

bool RunIndex::before(int32_t a, uint32_t start, int32_t action) const {
    const Node& node = nodes[size_t(a)];
    return node.start < start || (node.start == start && node.action < action);
}

void RunIndex::update(int32_t index) {
    Node& node = nodes[size_t(index)];
    node.latestEnd = node.end;
    for (int32_t child : {node.left, node.right})
        if (child >= 0) node.latestEnd = std::max(node.latestEnd, nodes[size_t(child)].latestEnd);
}

// A treap: ordered by (start, action), a heap by random priority, so it stays balanced
// whatever order the script writes its times in.
int32_t RunIndex::insertBelow(int32_t index, int32_t fresh) {
    if (index < 0) return fresh;
    if (before(fresh, nodes[size_t(index)].start, nodes[size_t(index)].action)) {
        int32_t child = insertBelow(nodes[size_t(index)].left, fresh);
        nodes[size_t(index)].left = child;
        if (nodes[size_t(child)].priority > nodes[size_t(index)].priority) {
            nodes[size_t(index)].left = nodes[size_t(child)].right;
            nodes[size_t(child)].right = index;
            update(index);
            index = child;
        }
    } else {
        int32_t child = insertBelow(nodes[size_t(index)].right, fresh);
        nodes[size_t(index)].right = child;
        if (nodes[size_t(child)].priority > nodes[size_t(index)].priority) {
            nodes[size_t(index)].right = nodes[size_t(child)].left;
            nodes[size_t(child)].left = index;
            update(index);
            index = child;
        }
    }
    update(index);
    return index;
}

void RunIndex::insert(uint32_t start, uint32_t end, int32_t action) {
    if (end <= start) return; // holds no time
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    Node node;
    node.start = start;
    node.end = node.latestEnd = end;
    node.action = action;
    node.priority = seed;
    nodes.push_back(node);
    root = insertBelow(root, int32_t(nodes.size() - 1));
}

int32_t RunIndex::find(int32_t index, uint32_t t) const {
    if (index < 0 || nodes[size_t(index)].latestEnd <= t) return -1;
    const Node& node = nodes[size_t(index)];
    if (node.start > t) return find(node.left, t);
    int32_t later = find(node.right, t);
    if (later >= 0) return later;
    if (node.end > t) return index;
    return find(node.left, t);
}

int32_t RunIndex::holder(uint32_t t) const {
    int32_t index = find(root, t);
    return index < 0 ? -1 : nodes[size_t(index)].action;
}

bool RunIndex::shortenBelow(int32_t index, uint32_t start, int32_t action, uint32_t end) {
    if (index < 0) return false;
    Node& node = nodes[size_t(index)];
    bool found = node.start == start && node.action == action;
    if (found)
        node.end = end;
    else
        found =
            shortenBelow(before(index, start, action) ? node.right : node.left, start, action, end);
    if (found) update(index);
    return found;
}

void RunIndex::shorten(uint32_t start, int32_t action, uint32_t end) {
    shortenBelow(root, start, action, end);
}

} // namespace scrp

void setScriptMessagePump(void (*pump)()) {
    messagePump = pump;
}

void pumpScriptMessages() {
    if (messagePump) messagePump();
}

Script::Script(Stream* text, const SourceLines* lines) {
    textReader.load(text, lines);
}

Script::Script(const char* text, int32_t size, const SourceLines* lines) {
    textReader.load(text, size, lines);
}

int32_t Script::forEachGlobal(void (*handler)(const char*, const char*)) const {
    for (const GlobalSetting& setting : globalList)
        handler(setting.key, setting.value);
    return int32_t(globalList.size());
}

int32_t Script::findTarget(const char* name) {
    int32_t index = findByName(targetList, name);
    if (index < 0) textReader.parseError("couldn't find render target '%s'", name);
    return index;
}

int32_t Script::findViewport(const char* name) {
    int32_t index = findByName(viewportList, name);
    if (index < 0) textReader.parseError("couldn't find viewport '%s'", name);
    return index;
}

int32_t Script::findMacro(const char* name) {
    int32_t index = findByName(macroList, name);
    if (index < 0) textReader.parseError("couldn't find macro '%s'", name);
    return index;
}

int32_t Script::findEffect(const char* name) {
    for (size_t i = 0; i < effectList.size(); ++i)
        if (strcmp(effectList[i].instanceName, name) == 0) return int32_t(i);
    textReader.parseError("couldn't find effect '%s'", name);
}

void Script::clearLists() {
    globalList.clear();
    targetList.clear();
    viewportList.clear();
    effectList.clear();
    bindingList.clear();
    macroList.clear();
    eventList.clear();
    fadeList.clear();
    actionList.clear();
    runsOf.clear();
}

bool Script::parse(bool dryRun) {
    clearLists();
    EffectDecl music;
    copyName(music.className, "tmxcontrol");
    copyName(music.instanceName, "tmx");
    effectList.push_back(music);
    TargetDecl primary;
    copyName(primary.name, "primary");
    primary.width = float(configValues.xres);
    primary.height = float(configValues.yres);
    targetList.push_back(primary);
    ViewportDecl screen;
    copyName(screen.name, "screen");
    screen.width = screen.height = 1.0f;
    viewportList.push_back(screen);
    currentZ = 0;
    macroDepth = 0;
    commandCount = 0;
    endOfDemo = kNever;
    timeExpressions.dryRun = dryRun;
    if (!textReader.rewind()) return false;

    while (readDeclaration(dryRun)) {
    }
    readDemoBlock(dryRun);

    logf("SCRP: parsed script: %d globals, %d effects, %d targets, %d viewports, %d macros, "
         "%d bindings, ",
         int(globalList.size()), int(effectList.size()), int(targetList.size()),
         int(viewportList.size()), int(macroList.size()), int(bindingList.size()));
    logf("%d events, %d fades, %d actions\n", int(eventList.size()), int(fadeList.size()),
         int(actionList.size()));
    if (dryRun) return true;
    if (actionList.empty()) textReader.parseError("nothing will ever happen\n");

    std::stable_sort(eventList.begin(), eventList.end(),
                     [](const Event& a, const Event& b) { return a.time < b.time; });
    std::stable_sort(fadeList.begin(), fadeList.end(),
                     [](const Fade& a, const Fade& b) { return a.start < b.start; });
    std::stable_sort(actionList.begin(), actionList.end(),
                     [](const Action& a, const Action& b) { return a.z < b.z; });
    return true;
}

// --- declarations ----------------------------------------------------------------------

bool Script::readDeclaration(bool dryRun) {
    ReaderPosition saved = textReader.save();
    char word[ScriptReader::kIdentLength + 1];
    if (!textReader.readIdent(word, false)) textReader.parseError("syntax error");

    if (isWord(word, "set")) {
        GlobalSetting setting;
        textReader.readIdent(setting.key, true);
        textReader.expect("to", true);
        textReader.readString(setting.value, sizeof setting.value - 1);
        globalList.push_back(setting);
    } else if (isWord(word, "rendertarget")) {
        TargetDecl target;
        textReader.readIdent(target.name, true);
        textReader.readFloat(&target.width, true);
        textReader.readFloat(&target.height, true);
        if (!dryRun) targetList.push_back(target);
    } else if (isWord(word, "viewport")) {
        ViewportDecl viewport;
        textReader.readIdent(viewport.name, true);
        textReader.readFloat(&viewport.x, true);
        textReader.readFloat(&viewport.y, true);
        textReader.readFloat(&viewport.width, true);
        textReader.readFloat(&viewport.height, true);
        char target[ScriptReader::kIdentLength + 1] = "primary";
        if (textReader.expect("target", false)) textReader.readIdent(target, true);
        if (!dryRun) {
            viewport.target = findTarget(target);
            viewportList.push_back(viewport);
        }
    } else if (isWord(word, "effect")) {
        EffectDecl effect;
        textReader.readIdent(effect.instanceName, true);
        textReader.expect("is", true);
        textReader.readIdent(effect.className, true);
        if (!dryRun) {
            effectList.push_back(effect);
            if (!createEffect(effect.instanceName, effect.className))
                textReader.parseError("could not find effect class '%s'", effect.className);
        }
    } else if (isWord(word, "bind")) {
        BindingDecl binding;
        textReader.readIdent(binding.bound, true);
        textReader.expect("to", true);
        textReader.readIdent(binding.target, true);
        if (!dryRun) bindingList.push_back(binding);
    } else if (isWord(word, "macro")) {
        MacroDecl macro;
        textReader.readIdent(macro.name, true);
        macro.body = textReader.save();
        if (!dryRun) macroList.push_back(macro);
        textReader.skipUntil("endmacro");
    } else {
        textReader.restore(saved);
        return false;
    }
    return true;
}

// --- demo block ------------------------------------------------------------------------

void Script::readDemoBlock(bool dryRun) {
    textReader.expect("demo", true);
    if (textReader.expect("runs", false) && !timeExpressions.readEndTime(0, &endOfDemo))
        textReader.parseError("syntax error");
    if (dryRun) {
        textReader.skipUntil("enddemo");
        return;
    }
    readInitialSettings();
    uint32_t prev = 0, now = 0, start = 0;
    while (timeExpressions.readStartTime(now, prev, &start)) {
        uint32_t result = 0;
        if (!readCommand(start, now, &result)) textReader.parseError("command expected");
        prev = start;
        now = result;
    }
    textReader.expect("enddemo", true);
}

// "first" set ... {"and" set ...}: property events that run while loading.
void Script::readInitialSettings() {
    if (!textReader.expect("first", false)) return;
    do {
        if (messagePump) messagePump();
        if (!textReader.expect("set", false)) textReader.parseError("'set' statement expected");
        setCommand(uint32_t(-1));
    } while (textReader.expect("and", false));
}

// --- commands --------------------------------------------------------------------------

bool Script::readCommand(uint32_t t, uint32_t now, uint32_t* result) {
    if (messagePump) messagePump();
    if (++commandCount > kMaxCommands)
        textReader.parseError("script expands to more than %d commands", kMaxCommands);
    ReaderPosition saved = textReader.save();
    char word[ScriptReader::kIdentLength + 1];
    if (!textReader.readIdent(word, false)) textReader.parseError("syntax error");

    *result = t;
    if (isWord(word, "start")) {
        startCommand(t);
    } else if (isWord(word, "stop")) {
        if (!stopCommand(t)) *result = now;
    } else if (isWord(word, "fade")) {
        *result = fadeCommand(t);
    } else if (isWord(word, "wait")) {
        *result = readEnd(t, t);
    } else if (isWord(word, "play")) {
        *result = playCommand(t);
    } else if (isWord(word, "stopdemo")) {
        endOfDemo = t;
    } else if (isWord(word, "die")) {
        Event event;
        event.time = int32_t(t);
        textReader.readString(event.value, 255);
        eventList.push_back(event);
        *result = now;
    } else if (isWord(word, "set")) {
        setCommand(t);
    } else {
        textReader.restore(saved, true);
        return false;
    }
    return true;
}

// An end expression (only relative ones inside a macro), or the fallback when none follows.
uint32_t Script::readEnd(uint32_t start, uint32_t fallback) {
    uint32_t end = fallback;
    if (macroDepth > 0)
        timeExpressions.readLength(start, &end);
    else
        timeExpressions.readEndTime(start, &end);
    return end;
}

void Script::readPropertyWord(char (&effectName)[64], char (&property)[64]) {
    char word[ScriptReader::kIdentLength + 1];
    textReader.readIdent(word, true);
    char* dot = strchr(word, '.');
    if (!dot) textReader.parseError("property identifier (<ident>.<ident>) expected");
    *dot = 0;
    copyName(effectName, word);
    copyName(property, dot + 1);
}

void Script::startCommand(uint32_t t) {
    char name[ScriptReader::kIdentLength + 1];
    char viewport[ScriptReader::kIdentLength + 1] = "screen";
    textReader.readIdent(name, true);
    for (;;) {
        float value = 0;
        if (textReader.expect("z", false)) {
            textReader.readFloat(&value, true);
            currentZ = truncToInt(value);
        } else if (textReader.expect("vp", false)) {
            textReader.readIdent(viewport, true);
        } else {
            break;
        }
    }
    uint32_t end = readEnd(t, endOfDemo);
    int32_t effect = findEffect(name);
    if (size_t(effect) >= runsOf.size()) runsOf.resize(size_t(effect) + 1);
    if (runsOf[size_t(effect)].holder(t) >= 0)
        textReader.parseError("effect '%s' is already running at that time (second %.2f)", name,
                              seconds(t));
    Action action;
    action.start = t;
    action.end = end;
    action.effect = effect;
    action.z = currentZ;
    action.viewport = findViewport(viewport);
    runsOf[size_t(effect)].insert(t, end, int32_t(actionList.size()));
    actionList.push_back(action);
}

// Ends the action of the effect that runs at t; false (and a warning) when none does.
bool Script::stopCommand(uint32_t t) {
    char name[ScriptReader::kIdentLength + 1];
    textReader.readIdent(name, true);
    int32_t effect = findEffect(name);
    int32_t index = size_t(effect) < runsOf.size() ? runsOf[size_t(effect)].holder(t) : -1;
    if (index >= 0) {
        Action& action = actionList[size_t(index)];
        runsOf[size_t(effect)].shorten(action.start, index, t);
        action.end = t;
        return true;
    }
    logf("SCRP: warning - effect '%s' isn't running at that time (second %.2f)\n", name,
         seconds(t));
    return false;
}

uint32_t Script::fadeCommand(uint32_t t) {
    char name[ScriptReader::kIdentLength + 1];
    Fade fade;
    readPropertyWord(name, fade.property);
    textReader.expect("from", true);
    textReader.readFloat(&fade.from, true);
    textReader.expect("to", true);
    textReader.readFloat(&fade.to, true);
    float curve = 10.0f;
    if (textReader.expect("curve", false)) textReader.readFloat(&curve, true);
    fade.exponent = curve / 10.0f;
    fade.start = t;
    fade.end = readEnd(t, t);
    fade.effect = findEffect(name);
    fadeList.push_back(fade);
    return fade.end;
}

void Script::setCommand(uint32_t t) {
    char name[ScriptReader::kIdentLength + 1];
    Event event;
    event.time = int32_t(t);
    readPropertyWord(name, event.property);
    textReader.expect("to", true);
    textReader.readString(event.value, sizeof event.value - 1);
    event.effect = findEffect(name);
    eventList.push_back(event);
}

// --- macros ----------------------------------------------------------------------------

uint32_t Script::playCommand(uint32_t t) {
    char name[ScriptReader::kIdentLength + 1];
    textReader.readIdent(name, true);
    int32_t times = 1;
    for (;;) {
        float value = 0;
        if (textReader.expect("z", false)) {
            textReader.readFloat(&value, true);
            currentZ = truncToInt(value);
        } else if (textReader.expect("times", false)) {
            textReader.readFloat(&value, true);
            times = truncToInt(value);
        } else {
            break;
        }
    }
    // Copied: expanding reads the text again but never changes the macro list.
    MacroDecl macro = macroList[size_t(findMacro(name))];
    return playMacro(macro, times, t);
}

uint32_t Script::playMacro(const MacroDecl& macro, int32_t times, uint32_t start) {
    if (macroDepth >= kMaxMacroDepth)
        textReader.parseError("macros nested too deeply (more than %d levels)", kMaxMacroDepth);
    ReaderPosition saved = textReader.save();
    int32_t savedZ = currentZ;
    ++macroDepth;
    uint32_t cursor = start;
    for (int32_t repetition = 0; repetition < times; ++repetition) {
        textReader.restore(macro.body);
        bool hasLength = false;
        uint32_t definedEnd = 0;
        if (textReader.expect("runs", false)) {
            if (!timeExpressions.readLength(cursor, &definedEnd))
                textReader.parseError("syntax error");
            hasLength = true;
        }
        uint32_t prev = cursor, now = cursor, result = cursor, next = cursor;
        bool first = true;
        for (;;) {
            if (!first && !timeExpressions.readStartTime(now, prev, &next)) break;
            if (!readCommand(next, now, &result)) textReader.parseError("command expected");
            if (hasLength && result > definedEnd)
                textReader.parseError("macro runs longer (%.2f secs) than it's defined (%.2f secs)",
                                      seconds(result - cursor), seconds(definedEnd - cursor));
            prev = next;
            now = result;
            first = false;
        }
        textReader.expect("endmacro", true);
        cursor = hasLength ? definedEnd : now;
    }
    --macroDepth;
    textReader.restore(saved);
    currentZ = savedZ;
    return cursor;
}
