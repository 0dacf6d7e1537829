// Glue between the start-up sequence and the subsystems, and the process-wide objects the
// shell owns: the script with its preprocessor.
#include "shell/subsystems.h"

#include "data/filesystem.h"
#include "data/stream.h"
#include "effects/effect.h"
#include "platform/config.h"
#include "platform/log.h"
#include "platform/music/music.h"
#include "script/parser.h"
#include "script/preprocessor.h"
#include "shell/startup.h"

#include <cstdlib>

namespace {

Preprocessor* preprocessor = nullptr;
Script* script = nullptr;

// Reads "script" through the file lookup into a new Script (the old one goes first).
void loadScript() {
    destroyScript();
    preprocessor = new Preprocessor;
    if (!preprocessor->run("script")) fatal("out of memory while reading the script\n");
    preprocessor->output()->seek(0);
    script = new Script(preprocessor->output(), &preprocessor->sourceLines());
}

} // namespace

// --- script and effects --------------------------------------------------------------------

void readConfiguration() {
    setScriptMessagePump(pumpMessages);
    loadScript();
    script->parse(true);
    script->forEachGlobal(applyConfigKey);
}

void rereadConfiguration() {
    readConfiguration();
}

void buildScript() {
    if (!script) loadScript();
    script->parse(false);
}

void destroyScript() {
    delete script;
    script = nullptr;
    delete preprocessor;
    preprocessor = nullptr;
}

void createMusicControlEffect() {
    createEffect("tmx", "tmxcontrol");
}

void loadTune() {
    int32_t size = 0;
    Stream* file = openFile(configValues.tune, &size);
    if (!file) fatal("tune not found: %s\n", configValues.tune);
    void* data = malloc(size_t(size > 0 ? size : 1));
    if (!data) fatal("tune not found: %s\n", configValues.tune);
    int32_t got = size > 0 ? file->read(data, size) : 0;
    closeFile(file);
    int result = tmxLoadMem(data, uint32_t(got > 0 ? got : 0), tuneTypeOf(configValues.tune));
    free(data);
    if (result != 0)
        fatal("we have some serious problems with our tune '%s': tmxLoadMem returned %d",
              configValues.tune, result);
}
