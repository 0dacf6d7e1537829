// lux_soak: the player itself, run offline with two observers for soak and fault runs.
//
//   lux_soak [--loops N] [--lose-every K] PLAYER OPTIONS...
//
// The player options are lux32's (an offline run: --render DIR --fps F, with --loop for
// --loops). Before each restart of the production the run prints one line "loop k: ..." with
// the resident memory, the device's live objects and every pool's entry count, as they stand
// at the end of loop k; after loop N it ends through the normal exit. With --lose-every K the
// device is lost after every K-th written frame (as the debug key does), and the run prints
// how many losses it caused at its end. scripts/soak.sh drives it.
#include "data/filesystem.h"
#include "gfx/device.h"
#include "gfx/font.h"
#include "gfx/resources.h"
#include "gfx/texturepool.h"
#include "platform/gpu/gpu.h"
#include "shell/options.h"
#include "shell/startup.h"
#include "shell/subsystems.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

int32_t loopsWanted = 0;
int32_t loopsDone = 0;
uint64_t loseEvery = 0;
uint64_t lossesCaused = 0;

long residentKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

void reportLoop() {
    ++loopsDone;
    GpuLiveObjects live;
    if (dxDevice()) live = dxDevice()->GetLiveObjects();
    TexturePool* textures = texturePool();
    printf("loop %d: rss_kb %ld surfaces %u textures %u cube_textures %u vertex_buffers %u "
           "index_buffers %u vertex_shaders %u programs %u resources %d file_cache %d "
           "texture_pool %d font_caches %d depth_buffers %d\n",
           loopsDone, residentKilobytes(), live.surfaces, live.textures, live.cubeTextures,
           live.vertexBuffers, live.indexBuffers, live.vertexShaders, live.programs,
           resourceCount(), fileSystem() ? fileSystem()->count() : 0,
           textures ? textures->count() : 0, fontCacheCount(), depthBufferCount());
    fflush(stdout);
    if (loopsDone >= loopsWanted) demoExit();
}

void afterFrame(uint64_t frame) {
    if (loseEvery == 0 || (frame + 1) % loseEvery != 0) return;
    simulateDeviceLoss();
    ++lossesCaused;
}

void reportLossesAtExit() {
    printf("losses %llu\n", (unsigned long long)lossesCaused);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> rest = {argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--loops") && i + 1 < argc) {
            loopsWanted = atoi(argv[++i]);
        } else if (!strcmp(argv[i], "--lose-every") && i + 1 < argc) {
            loseEvery = strtoull(argv[++i], nullptr, 10);
        } else {
            rest.push_back(argv[i]);
        }
    }
    int status = parseLaunchOptions(int(rest.size()), rest.data(), &launchOptions);
    if (status) return status < 0 ? 0 : status;
    if (!launchOptions.offline()) {
        fprintf(stderr, "lux_soak: an offline run is needed (--render DIR --fps N)\n");
        return 2;
    }
    if (!launchOptions.folder.empty() && chdir(launchOptions.folder.c_str()) != 0) {
        fprintf(stderr, "lux_soak: cannot enter '%s': %s\n", launchOptions.folder.c_str(),
                strerror(errno));
        return 2;
    }
    if (loopsWanted > 0) setProductionRestartHook(reportLoop);
    setOfflineFrameHook(afterFrame);
    atexit(reportLossesAtExit);
    return luxMain(launchOptions);
}
