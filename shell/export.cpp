// Offline output: the option checks, the PNG folder, the ffmpeg video export with its
// progress bar, and the benchmark's end.
//
// Sections: options; the encoder process; the video export; offline output.
#include "shell/export.h"

#include "gfx/device.h"
#include "platform/config.h"
#include "platform/gpu/gpu.h"
#include "platform/log.h"
#include "platform/music/music.h"
#include "shell/benchmark.h"
#include "shell/subsystems.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
constexpr int kDefaultOfflineFps = 60; // --video and --benchmark without --fps

bool canWrite(const std::string& path, std::string* why) {
    std::error_code error;
    bool existed = fs::exists(path, error);
    FILE* file = fopen(path.c_str(), "ab");
    if (!file) {
        *why = strerror(errno);
        return false;
    }
    fclose(file);
    if (!existed) fs::remove(path, error);
    return true;
}

int checkVideoFile(LaunchOptions* options) {
    std::error_code error;
    fs::path path = fs::absolute(options->videoFile, error);
    if (error || path.extension().empty() || fs::is_directory(path, error)) {
        fprintf(stderr,
                "lux32: --video wants a file name whose extension names the format "
                "(.mp4, .mkv ...), not '%s'\n",
                options->videoFile.c_str());
        return 2;
    }
    options->videoFile = path.string(); // the production folder becomes the current one
    if (findFfmpeg().empty()) {
        fprintf(stderr, "lux32: --video needs ffmpeg, and there is none on the PATH "
                        "(install the ffmpeg package)\n");
        return 2;
    }
    std::string why;
    if (!canWrite(options->videoFile, &why)) {
        fprintf(stderr, "lux32: cannot write the video file '%s': %s\n", options->videoFile.c_str(),
                why.c_str());
        return 2;
    }
    return 0;
}

} // namespace

// ------------------------------------------------------------------------------------------
// Options

std::string findFfmpeg() {
    const char* path = getenv("PATH");
    std::string folders = path ? path : "";
    size_t start = 0;
    while (start <= folders.size()) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        std::string folder = folders.substr(start, end - start);
        std::string candidate = (folder.empty() ? std::string(".") : folder) + "/ffmpeg";
        if (access(candidate.c_str(), X_OK) == 0 && !fs::is_directory(candidate)) return candidate;
        start = end + 1;
    }
    return "";
}

int finishExportOptions(const std::string& size, LaunchOptions* options) {
    bool offline = options->offline();
    if (!offline && (options->fps != 0 || options->from != 0.0 || options->to >= 0.0)) {
        fprintf(stderr, "lux32: --fps, --from and --to need --render, --video or --benchmark\n");
        return 2;
    }
    if (!size.empty()) {
        if (!offline) {
            fprintf(stderr, "lux32: --size needs --render, --video or --benchmark\n");
            return 2;
        }
        if (!parseSize(size, &options->sizeWidth, &options->sizeHeight)) {
            fprintf(stderr, "lux32: --size wants WIDTHxHEIGHT (64x48 to 16384x16384), not '%s'\n",
                    size.c_str());
            return 2;
        }
        options->windowWidth = options->sizeWidth;
        options->windowHeight = options->sizeHeight;
    }
    if (!options->videoFile.empty() && ((options->windowWidth | options->windowHeight) & 1))
        fprintf(stderr, "lux32: the video's frame size goes up to even numbers (%dx%d)\n",
                options->windowWidth + (options->windowWidth & 1),
                options->windowHeight + (options->windowHeight & 1));
    if ((!options->videoFile.empty() || options->benchmark) && options->fps == 0)
        options->fps = kDefaultOfflineFps;
    if (!options->videoFile.empty() && checkVideoFile(options) != 0) return 2;
    return 0;
}

void roundVideoSize() {
    if (launchOptions.videoFile.empty()) return;
    ConfigValues& c = configValues;
    if ((c.xres | c.yres) & 1)
        logf("MAIN: the video's frame size %dx%d goes up to %dx%d (encoders want even sizes)\n",
             int(c.xres), int(c.yres), int(c.xres + (c.xres & 1)), int(c.yres + (c.yres & 1)));
    c.xres += c.xres & 1;
    c.yres += c.yres & 1;
}

namespace {

// ------------------------------------------------------------------------------------------
// The encoder process

// Starts ffmpeg with the arguments; with `input` set, its standard input is a pipe whose
// writing end goes there. Returns the process id, or -1.
pid_t startFfmpeg(const std::vector<std::string>& arguments, int* input) {
    std::string program = findFfmpeg();
    if (program.empty()) return -1;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>("ffmpeg"));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    int ends[2] = {-1, -1};
    if (input && pipe2(ends, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input) posix_spawn_file_actions_adddup2(&actions, ends[0], 0);
    pid_t child = -1;
    int failed = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (input) {
        close(ends[0]);
        if (failed) close(ends[1]);
        *input = failed ? -1 : ends[1];
    }
    return failed ? -1 : child;
}

// The exit status of the process, or -1 when it did not end by itself.
int waitFor(pid_t child) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool writeAll(int fd, const uint8_t* bytes, size_t length) {
    while (length > 0) {
        ssize_t n = write(fd, bytes, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        length -= size_t(n);
    }
    return true;
}

// A frame on its way to the encoder: the pixels as drawn, the gamma ramp they are shown
// through, and the video bytes made of them.
struct PendingFrame {
    std::vector<uint32_t> pixels;
    D3DGAMMARAMP ramp;
    int32_t width = 0, height = 0;
    std::vector<uint8_t> yuv;
};

// Frames are converted and sent to the encoder by a thread of their own, up to kBuffers frames
// behind the drawing: the conversion runs beside the next frame's drawing, and while the
// encoder is busy the next frames are drawn instead of waiting on the pipe. The main thread
// fills a free buffer and queues it; the writer converts and writes queued buffers in order
// and hands them back.
class FrameWriter {
  public:
    void start(int pipe) {
        fd = pipe;
        fcntl(fd, F_SETPIPE_SZ, 1 << 20); // fewer, larger hand-overs; the default is fine too
        spare.clear();
        for (PendingFrame& buffer : buffers)
            spare.push_back(&buffer);
        ending = failed = false;
        thread = std::thread([this] { writeQueued(); });
    }

    // A buffer to read the next frame into; nullptr once a write has failed.
    PendingFrame* freeBuffer() {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [this] { return failed || !spare.empty(); });
        if (failed) return nullptr;
        PendingFrame* buffer = spare.back();
        spare.pop_back();
        return buffer;
    }

    void queue(PendingFrame* frame) {
        std::lock_guard<std::mutex> lock(mutex);
        queued.push_back(frame);
        changed.notify_all();
    }

    // Writes what is queued and ends the thread; false when a write failed.
    bool finish() {
        stop();
        return !failed;
    }

    // Ends the thread without writing what is queued (the encoder is being stopped).
    void abandon() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            queued.clear();
        }
        stop();
    }

  private:
    static constexpr size_t kBuffers = 4;

    void stop() {
        if (!thread.joinable()) return;
        {
            std::lock_guard<std::mutex> lock(mutex);
            ending = true;
            changed.notify_all();
        }
        thread.join();
    }

    void writeQueued() {
        for (;;) {
            PendingFrame* frame = nullptr;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [this] { return ending || !queued.empty(); });
                if (queued.empty()) return; // ending, and everything written
                frame = queued.front();
                queued.erase(queued.begin());
            }
            gpuYuv420FromPixels(frame->pixels.data(), uint32_t(frame->width),
                                uint32_t(frame->height), frame->ramp, &frame->yuv,
                                GpuPixelLayout::RgbaBytes);
            bool written = writeAll(fd, frame->yuv.data(), frame->yuv.size());
            std::lock_guard<std::mutex> lock(mutex);
            spare.push_back(frame);
            if (!written) {
                failed = true;
                queued.clear();
            }
            changed.notify_all();
            if (!written) return;
        }
    }

    int fd = -1;
    std::thread thread;
    std::mutex mutex;
    std::condition_variable changed;
    PendingFrame buffers[kBuffers];
    std::vector<PendingFrame*> queued, spare;
    bool ending = false, failed = false;
};

// ------------------------------------------------------------------------------------------
// The video export

using Clock = std::chrono::steady_clock;

// x264's speed and size trade: its fastest preset leaves the two cores of a small machine to
// the drawing (slower presets made files half the size and the export a third slower).
constexpr const char* kVideoPreset = "ultrafast";

struct VideoExport {
    std::string file;      // what the user asked for
    std::string videoPart; // the encoded frames, beside it, same extension
    std::string audioPart; // the sound as WAV, beside it
    pid_t encoder = -1;
    int frames = -1; // writing end of the encoder's frame pipe
    bool finished = false;
    bool muxing = false; // the asked-for file is being written (an older one is gone)
    uint64_t written = 0;
    uint64_t expected = 0; // frames the run will write, for the progress bar
    int32_t width = 0, height = 0;
    bool showProgress = false;
    Clock::time_point start;
    Clock::time_point lastBar;
    FrameWriter writer;
};

VideoExport video;
volatile sig_atomic_t interrupted = 0; // Ctrl-C or a termination request during the export

void noteInterrupt(int) {
    interrupted = 1;
}

uint32_t secondsToTime(double seconds) {
    return uint32_t(seconds * 65536.0 + 0.5);
}

// The first frame n whose time n * 65536 / fps (rounded down) reaches `time`.
uint64_t firstFrameAt(uint32_t time, int32_t fps) {
    return (uint64_t(time) * uint64_t(fps) + 65535u) / 65536u;
}

uint64_t expectedFrames() {
    uint32_t end = productionEndTime();
    if (launchOptions.to >= 0 && secondsToTime(launchOptions.to) < end)
        end = secondsToTime(launchOptions.to);
    uint32_t from = secondsToTime(launchOptions.from);
    uint64_t first = firstFrameAt(from, launchOptions.fps);
    uint64_t last = firstFrameAt(end, launchOptions.fps);
    return last > first ? last - first : 0;
}

void stopEncoder() {
    // The encoder goes first: a write the writer thread is blocked in then fails.
    if (video.encoder > 0) kill(video.encoder, SIGTERM);
    video.writer.abandon();
    if (video.frames >= 0) close(video.frames);
    video.frames = -1;
    if (video.encoder > 0) waitFor(video.encoder);
    video.encoder = -1;
}

// At every exit (fatal ones too): a video that was not finished leaves no files behind.
void removeUnfinishedVideo() {
    if (video.finished || video.file.empty()) return;
    stopEncoder();
    std::error_code error;
    bool removed = false;
    for (const std::string& path : {video.videoPart, video.audioPart})
        removed = fs::remove(path, error) || removed;
    if (video.muxing) removed = fs::remove(video.file, error) || removed;
    fprintf(stderr, "lux32: the video '%s' was not finished%s\n", video.file.c_str(),
            removed ? "; its incomplete files were removed" : "");
    logf("MAIN: the video '%s' was not finished%s\n", video.file.c_str(),
         removed ? "; its incomplete files were removed" : "");
}

std::string partName(const std::string& file, const char* extension) {
    fs::path path(file);
    std::string ext = extension ? extension : path.extension().string();
    return (path.parent_path() / (path.stem().string() + ".part" + ext)).string();
}

void openVideo(const SoundSettings* settings) {
    video.file = launchOptions.videoFile;
    video.videoPart = partName(video.file, nullptr);
    video.audioPart = partName(video.file, ".wav");
    video.width = configValues.xres;
    video.height = configValues.yres;
    addExitCallback(removeUnfinishedVideo);
    signal(SIGPIPE, SIG_IGN); // a stopped encoder is a failed write, not the end of us
    // An interrupted export ends on the fatal path, which takes the unfinished files away.
    signal(SIGINT, noteInterrupt);
    signal(SIGTERM, noteInterrupt);
    if (!tmxOfflineOpen(video.audioPart.c_str(), settings))
        fatal("cannot write the video's sound file '%s'\n", video.audioPart.c_str());
    char size[32], rate[16];
    snprintf(size, sizeof size, "%dx%d", int(video.width), int(video.height));
    snprintf(rate, sizeof rate, "%d", int(launchOptions.fps));
    // The encoder gets the cores the drawing and the frame conversion leave: all but one. On
    // two cores its own threads would only take turns with ours (and cost a third more).
    char threads[16];
    snprintf(threads, sizeof threads, "%u", std::max(1u, std::thread::hardware_concurrency() - 1));
    // The codec is the container's usual one; the options tune it when it is x264.
    // The frames come as 4:2:0 with BT.709 colours, what the encoder stores, so that it
    // converts nothing; the stream says so, and players show the colours that were drawn.
    video.encoder = startFfmpeg(
        {"-hide_banner", "-loglevel",  "error",       "-y",           "-f",
         "rawvideo",     "-pix_fmt",   "yuv420p",     "-video_size",  size,
         "-framerate",   rate,         "-colorspace", "bt709",        "-color_primaries",
         "bt709",        "-color_trc", "bt709",       "-color_range", "tv",
         "-i",           "pipe:0",     "-an",         "-preset",      kVideoPreset,
         "-crf",         "18",         "-threads",    threads,        video.videoPart},
        &video.frames);
    if (video.encoder < 0) fatal("cannot start ffmpeg for the video '%s'\n", video.file.c_str());
    video.writer.start(video.frames);
    logf("MAIN: exporting %dx%d at %d fps to '%s' through ffmpeg\n", int(video.width),
         int(video.height), int(launchOptions.fps), video.file.c_str());
    video.showProgress = isatty(2) != 0;
    video.start = video.lastBar = Clock::now();
}

void drawProgressBar(bool last) {
    Clock::time_point now = Clock::now();
    if (!last && now - video.lastBar < std::chrono::milliseconds(200)) return;
    video.lastBar = now;
    double elapsed = std::chrono::duration<double>(now - video.start).count();
    double fps = elapsed > 0 ? double(video.written) / elapsed : 0.0;
    uint64_t total = video.expected > video.written ? video.expected : video.written;
    double done = total ? double(video.written) / double(total) : 1.0;
    int left = fps > 0 ? int(double(total - video.written) / fps + 0.5) : 0;
    char bar[31];
    int filled = int(done * 30.0);
    for (int i = 0; i < 30; ++i)
        bar[i] = i < filled ? '#' : '-';
    bar[30] = 0;
    fprintf(stderr, "\r[%s] %llu/%llu frames  %.1f fps  %d:%02d left ", bar,
            (unsigned long long)video.written, (unsigned long long)total, fps, left / 60,
            left % 60);
    if (last) fputc('\n', stderr);
    fflush(stderr);
}

[[noreturn]] void encoderStopped() {
    fatal("ffmpeg stopped taking the frames of the video '%s' (see its messages above)\n",
          video.file.c_str());
}

void sendVideoFrame() {
    if (interrupted) fatal("the export of the video '%s' was interrupted\n", video.file.c_str());
    PendingFrame* frame = video.writer.freeBuffer();
    if (!frame) encoderStopped();
    if (!readFramePixels(&frame->pixels, &frame->ramp, &frame->width, &frame->height))
        fatal("cannot read back the frame for the video '%s'\n", video.file.c_str());
    if (frame->width != video.width || frame->height != video.height)
        fatal("the frame is %dx%d, the video %dx%d\n", int(frame->width), int(frame->height),
              int(video.width), int(video.height));
    video.writer.queue(frame);
    ++video.written;
    if (video.expected == 0) video.expected = expectedFrames();
    if (video.showProgress) drawProgressBar(false);
}

// The encoded frames and the sound go into the asked-for file; the parts go.
void finishVideo() {
    if (video.showProgress) drawProgressBar(true);
    if (!video.writer.finish()) encoderStopped();
    close(video.frames);
    video.frames = -1;
    int status = waitFor(video.encoder);
    video.encoder = -1;
    if (status != 0)
        fatal("ffmpeg could not encode the video '%s' (exit status %d)\n", video.file.c_str(),
              status);
    if (!tmxOfflineClose())
        fatal("cannot write the video's sound file '%s'\n", video.audioPart.c_str());
    video.muxing = true;
    pid_t muxer =
        startFfmpeg({"-hide_banner", "-loglevel", "error", "-y", "-i", video.videoPart, "-i",
                     video.audioPart, "-map", "0:v:0", "-map", "1:a:0", "-c:v", "copy", video.file},
                    nullptr);
    if (muxer < 0 || waitFor(muxer) != 0)
        fatal("ffmpeg could not put the frames and the sound into '%s'\n", video.file.c_str());
    std::error_code error;
    fs::remove(video.videoPart, error);
    fs::remove(video.audioPart, error);
    video.finished = true;
    double seconds = double(video.written) / double(launchOptions.fps);
    logf("MAIN: wrote the video '%s': %llu frames, %.3f s\n", video.file.c_str(),
         (unsigned long long)video.written, seconds);
    fprintf(stderr, "lux32: wrote '%s': %llu frames, %.2f s\n", video.file.c_str(),
            (unsigned long long)video.written, seconds);
}

} // namespace

// ------------------------------------------------------------------------------------------
// Offline output

bool openOfflineOutput(const SoundSettings* settings) {
    if (!launchOptions.videoFile.empty()) {
        openVideo(settings);
        return true;
    }
    if (launchOptions.benchmark) {
        tmxOfflineOpen(nullptr, settings);
        return true;
    }
    // The render folder is made, as every exporter does; an existing one is written into.
    std::error_code error;
    fs::create_directories(launchOptions.renderDir, error);
    if (error)
        fatal("cannot make the render folder '%s': %s\n", launchOptions.renderDir.c_str(),
              error.message().c_str());
    std::string wav = launchOptions.renderDir + "/audio.wav";
    if (!tmxOfflineOpen(wav.c_str(), settings))
        fatal("cannot write the offline audio file '%s'\n", wav.c_str());
    return true;
}

void deliverOfflineFrame(uint64_t index) {
    if (!launchOptions.renderDir.empty())
        writeFrame(launchOptions.renderDir.c_str(), index);
    else if (!launchOptions.videoFile.empty())
        sendVideoFrame();
}

void finishOfflineRun() {
    if (!launchOptions.videoFile.empty() && video.encoder > 0) finishVideo();
    if (launchOptions.benchmark)
        printBenchmarkReport(stdout, configValues.xres, configValues.yres, launchOptions.fps);
    fflush(stdout);
}
