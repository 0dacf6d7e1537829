// The script check: start-up's loading steps without a window, then the timeline as text.
#include "shell/check.h"

#include "data/filesystem.h"
#include "data/stream.h"
#include "effects/effect.h"
#include "gfx/font.h"
#include "platform/config.h"
#include "platform/log.h"
#include "platform/music/music.h"
#include "platform/values.h"
#include "script/parser.h"
#include "script/preprocessor.h"
#include "shell/subsystems.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>

namespace {

void printTime(Script& script, FILE* out, int64_t time) {
    if (time < 0) {
        fputs("first", out);
        return;
    }
    if (time == Script::kNever) {
        fputs("never", out);
        return;
    }
    uint32_t position = script.times().timeToPosition(uint32_t(time));
    fprintf(out, "%.3fs %u/%u/%u", double(time) / 65536.0, (position >> 16) & 255,
            (position >> 8) & 255, position & 255);
}

// What the file lookup says about one request (the lookup's own lines go to the log).
const char* lookupResult(const char* request) {
    Stream* stream = openFile(request);
    if (!stream) return "NOT FOUND";
    closeFile(stream);
    return "found";
}

bool declaresTarget(Script& script, const char* name) {
    for (const TargetDecl& target : script.targets())
        if (strcmp(target.name, name) == 0) return true;
    return false;
}

void reportTexture(Script& script, FILE* out, const char* request) {
    const char* result = nullptr;
    if (strcmp(request, "null") == 0)
        result = "no texture";
    else if (strncasecmp(request, "glow:", 5) == 0)
        result = "generated";
    else if (strncmp(request, "rtt:", 4) == 0)
        result = declaresTarget(script, request + 4) ? "render target" : "NO SUCH RENDER TARGET";
    else
        result = lookupResult(request);
    fprintf(out, "texture \"%s\" %s\n", request, result);
}

// ".fn2" files go through the file lookup; other requests are rendered from a face.
void reportFont(FILE* out, const char* request) {
    std::string first(request, strcspn(request, "|"));
    bool file = first.size() > 4 && strcasecmp(first.c_str() + first.size() - 4, ".fn2") == 0;
    if (file) {
        fprintf(out, "font \"%s\" %s\n", request, lookupResult(request));
        return;
    }
    char path[512] = {};
    if (findFontFace(first.c_str(), false, false, path, sizeof(path)))
        fprintf(out, "font \"%s\" rendered from %s\n", request, path);
    else
        fprintf(out, "font \"%s\" NO FACE\n", request);
}

} // namespace

// Every texture and font that the "first" settings name, and whether the lookup finds it.
void printResources(Script& script, FILE* out) {
    for (const Event& event : script.events()) {
        if (event.time >= 0 || event.effect < 0) continue;
        const char* className = script.effects()[size_t(event.effect)].className;
        bool glyphTexture = strcmp(className, "matrix") == 0;
        if (strcmp(event.property, "image") == 0 ||
            (glyphTexture && strcmp(event.property, "font") == 0))
            reportTexture(script, out, event.value);
        else if (strcmp(event.property, "font") == 0)
            reportFont(out, event.value);
    }
}

void printTimeline(Script& script, FILE* out) {
    fprintf(out,
            "script: %d globals, %d effects, %d targets, %d viewports, %d macros, "
            "%d bindings, %d events, %d fades, %d actions\n",
            int(script.globals().size()), int(script.effects().size()),
            int(script.targets().size()), int(script.viewports().size()),
            int(script.macros().size()), int(script.bindings().size()), int(script.events().size()),
            int(script.fades().size()), int(script.actions().size()));
    fputs("demo end ", out);
    printTime(script, out, script.demoEnd());
    fputc('\n', out);
    for (const GlobalSetting& setting : script.globals())
        fprintf(out, "set %s \"%s\"\n", setting.key, setting.value);
    for (const TargetDecl& target : script.targets())
        fprintf(out, "target %s %.3f %.3f\n", target.name, target.width, target.height);
    for (const ViewportDecl& viewport : script.viewports())
        fprintf(out, "viewport %s %.3f %.3f %.3f %.3f target %s\n", viewport.name, viewport.x,
                viewport.y, viewport.width, viewport.height,
                script.targets()[size_t(viewport.target)].name);
    for (const EffectDecl& effect : script.effects())
        fprintf(out, "effect %s is %s\n", effect.instanceName, effect.className);
    for (const BindingDecl& binding : script.bindings())
        fprintf(out, "bind %s to %s\n", binding.bound, binding.target);
    for (const MacroDecl& macro : script.macros())
        fprintf(out, "macro %s\n", macro.name);
    for (const Event& event : script.events()) {
        fputs("event ", out);
        printTime(script, out, event.time);
        if (event.effect < 0)
            fprintf(out, " die \"%s\"\n", event.value);
        else
            fprintf(out, " %s.%s \"%s\"\n", script.effects()[size_t(event.effect)].instanceName,
                    event.property, event.value);
    }
    for (const Fade& fade : script.fades()) {
        fputs("fade ", out);
        printTime(script, out, fade.start);
        fputs(" until ", out);
        printTime(script, out, fade.end);
        fprintf(out, " %s.%s from %.3f to %.3f exponent %.3f\n",
                script.effects()[size_t(fade.effect)].instanceName, fade.property, fade.from,
                fade.to, fade.exponent);
    }
    for (const Action& action : script.actions()) {
        fputs("action ", out);
        printTime(script, out, action.start);
        fputs(" until ", out);
        printTime(script, out, action.end);
        fprintf(out, " %s z %d vp %s\n", script.effects()[size_t(action.effect)].instanceName,
                action.z, script.viewports()[size_t(action.viewport)].name);
    }
}

int runCheck(void (*applyConfigKey)(const char* key, const char* value)) {
    setErrorDialogEnabled(false);
    initFileSystem();
    registerBuiltinEffectClasses();

    Preprocessor preprocessor;
    if (!preprocessor.run("script")) fatal("out of memory while reading the script\n");
    preprocessor.output()->seek(0);
    Script script(preprocessor.output(), &preprocessor.sourceLines());
    script.parse(true);
    if (applyConfigKey) script.forEachGlobal(applyConfigKey);
    // The screen size of the build pass: the preferred resolution, as the launch dialog
    // would offer it by default.
    // Taken as integers: a float does not hold every int32 and may round past INT32_MAX.
    if (configValues.xres <= 0)
        configValues.xres = configValues.prefxres > 0 ? configValues.prefxres : 640;
    if (configValues.yres <= 0)
        configValues.yres = configValues.prefyres > 0 ? configValues.prefyres : 480;

    static SoundSettings settings;
    tmxInit(&settings); // fills the block with the player's defaults
    settings.noSound = 1;
    loadTune();

    createEffect("tmx", "tmxcontrol");
    script.parse(false);
    printTimeline(script, stdout);
    printResources(script, stdout);
    fflush(stdout);

    tmxFree();
    tmxClose();
    destroyEffects();
    closeEffectClasses();
    closeFileSystem();
    return 0;
}
