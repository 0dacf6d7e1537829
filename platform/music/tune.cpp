// Tune decoders and position <-> time conversions.
//
// Sections: module loading, MP3 loading, rendering and seeking, conversions.
//
// Tracker modules get two libopenmpt instances of the same bytes: one plays, the other answers
// conversions, so that a conversion never disturbs playback. libopenmpt reports no ticks; the
// tick of a moment is worked out from the row's start and the tick length of the classic
// tempo rule (2.5 s / tempo).
#include "platform/log.h"
#include "platform/music/music_local.h"

#include <libopenmpt/libopenmpt.h>
#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// Sample rate at which the converter renders its one probing frame.
constexpr int32_t kProbeRate = 8000;

char loadError[256] = ""; // why the last load failed, in the decoder's words

// Logs why a tune cannot be loaded and keeps the reason for the fatal message.
void noteLoadError(const char* kind, const char* reason) {
    snprintf(loadError, sizeof loadError, "%s not readable (%s)", kind, reason);
    logf("TMXL: %s\n", loadError);
}

openmpt_module* createModule(const void* data, size_t size) {
    int error = 0;
    const char* message = nullptr;
    openmpt_module* module = openmpt_module_create_from_memory2(data, size, openmpt_log_func_silent,
                                                                nullptr, openmpt_error_func_ignore,
                                                                nullptr, &error, &message, nullptr);
    if (!module) noteLoadError("module", message ? message : "unknown error");
    openmpt_free_string(message);
    return module;
}

double tickSecondsOf(int32_t tempo) {
    return 2.5 / double(tempo > 0 ? tempo : 125);
}

// Reads the row the module stands on after a seek. One rendered frame makes the row's own
// speed command count.
void probeRow(openmpt_module* module, SongCursor& cursor) {
    float frame = 0.0f;
    openmpt_module_read_float_mono(module, kProbeRate, 1, &frame);
    cursor.order = openmpt_module_get_current_order(module);
    cursor.row = openmpt_module_get_current_row(module);
    cursor.speed = std::max(1, int(openmpt_module_get_current_speed(module)));
    cursor.tickSeconds = tickSecondsOf(openmpt_module_get_current_tempo(module));
}

bool moduleHasPosition(openmpt_module* module, int32_t order, int32_t row) {
    if (order < 0 || order >= openmpt_module_get_num_orders(module) || row < 0) return false;
    int32_t pattern = openmpt_module_get_order_pattern(module, order);
    return row < openmpt_module_get_pattern_num_rows(module, pattern);
}

// The cursor of the row that starts at `seconds` or first after it (libopenmpt's seek rule;
// past the end it gives the song's end).
SongCursor rowAtOrAfter(openmpt_module* module, double seconds) {
    SongCursor cursor;
    cursor.rowStart = openmpt_module_set_position_seconds(module, std::max(0.0, seconds));
    probeRow(module, cursor);
    return cursor;
}

// A tick is the row's length divided by its speed: libopenmpt reports a tempo set on the row
// itself only from the row's second tick on, its timing counts it from the first.
void setTickFromLength(SongCursor& row, double nextRowStart) {
    if (nextRowStart > row.rowStart) row.tickSeconds = (nextRowStart - row.rowStart) / row.speed;
}

double nextRowStart(openmpt_module* module, double rowStart) {
    return openmpt_module_set_position_seconds(module, rowStart + 1e-6);
}

SongCursor moduleCursorAt(openmpt_module* module, double seconds) {
    constexpr double kSlack = 1e-9;
    SongCursor row = rowAtOrAfter(module, seconds);
    if (row.rowStart <= seconds + kSlack) {
        setTickFromLength(row, nextRowStart(module, row.rowStart));
        return row;
    }
    // Step back until a row starts at or before the moment, then forward row by row.
    for (double back = 0.05; seconds - back > 0.0; back *= 2.0) {
        row = rowAtOrAfter(module, seconds - back);
        if (row.rowStart <= seconds + kSlack) break;
    }
    if (row.rowStart > seconds + kSlack) row = rowAtOrAfter(module, 0.0);
    for (;;) {
        SongCursor next = rowAtOrAfter(module, row.rowStart + 1e-6);
        if (next.rowStart <= row.rowStart || next.rowStart > seconds + kSlack) {
            setTickFromLength(row, next.rowStart);
            return row;
        }
        row = next;
    }
}

// The start of row `row` of order `order`, negative when the song never plays it (libopenmpt
// seeks to such a row anyway; seeking back to its time then finds another row).
double moduleRowStart(openmpt_module* module, int32_t order, int32_t row, SongCursor& cursor) {
    if (!moduleHasPosition(module, order, row)) return -1.0;
    double start = openmpt_module_set_position_order_row(module, order, row);
    cursor = rowAtOrAfter(module, start);
    if (cursor.order != order || cursor.row != row || std::fabs(cursor.rowStart - start) > 1e-6)
        return -1.0;
    setTickFromLength(cursor, nextRowStart(module, start));
    return start;
}

// --- MP3 -------------------------------------------------------------------------------

struct Mpg123Handle {
    mpg123_handle* handle = nullptr;
    ~Mpg123Handle() {
        if (handle) mpg123_delete(handle);
    }
};

bool acceptSigned16Only(mpg123_handle* handle) {
    const long* rates = nullptr;
    size_t count = 0;
    mpg123_rates(&rates, &count);
    if (mpg123_format_none(handle) != MPG123_OK) return false;
    for (size_t i = 0; i < count; ++i)
        mpg123_format(handle, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    return true;
}

bool decodeMp3(mpg123_handle* handle, Tune& tune) {
    std::vector<unsigned char> block(16384);
    for (;;) {
        size_t done = 0;
        int result = mpg123_read(handle, block.data(), block.size(), &done);
        if (result == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0, encoding = 0;
            mpg123_getformat(handle, &rate, &channels, &encoding);
            if (tune.pcmRate && (rate != tune.pcmRate || channels != tune.pcmChannels)) {
                noteLoadError("mp3", "it changes its format in the middle");
                return false;
            }
            tune.pcmRate = int32_t(rate);
            tune.pcmChannels = channels;
        }
        const int16_t* samples = reinterpret_cast<const int16_t*>(block.data());
        tune.pcm.insert(tune.pcm.end(), samples, samples + done / 2);
        if (result == MPG123_NEED_MORE || result == MPG123_DONE) return true;
        if (result != MPG123_OK && result != MPG123_NEW_FORMAT) {
            noteLoadError("mp3", mpg123_plain_strerror(result));
            return false;
        }
    }
}

// One frame of the MP3 at the output rate, linearly interpolated from its own rate.
void mp3Frame(const Tune& tune, int64_t outFrame, int32_t rate, float& left, float& right) {
    int64_t scaled = outFrame * tune.pcmRate;
    int64_t index = scaled / rate;
    float fraction = float(scaled % rate) / float(rate);
    auto sample = [&](int64_t frame, int channel) {
        if (frame >= tune.pcmFrames) return 0.0f;
        return float(tune.pcm[size_t(frame * tune.pcmChannels + channel)]) / 32768.0f;
    };
    int rightChannel = tune.pcmChannels > 1 ? 1 : 0;
    left = sample(index, 0) + (sample(index + 1, 0) - sample(index, 0)) * fraction;
    right = sample(index, rightChannel) +
            (sample(index + 1, rightChannel) - sample(index, rightChannel)) * fraction;
}

SongCursor mp3CursorAt(double seconds) {
    SongCursor cursor;
    int64_t ticks = int64_t(std::floor(seconds * kMp3TicksPerSecond + 1e-9));
    int64_t rows = ticks / kMp3Speed;
    cursor.songTime = seconds;
    cursor.order = int32_t(std::min<int64_t>(rows / kMp3RowsPerOrder, 255));
    cursor.row = int32_t(rows % kMp3RowsPerOrder);
    cursor.speed = kMp3Speed;
    cursor.tickSeconds = 1.0 / kMp3TicksPerSecond;
    cursor.rowStart = double(rows * kMp3Speed) / kMp3TicksPerSecond;
    return cursor;
}

double mp3Seconds(const Tune& tune) {
    return double(tune.pcmFrames) / double(tune.pcmRate);
}

// Follows the module's row after a rendered block. A new row began inside the block: where
// the old row was due to end when that falls in the block, else at the block's end.
void followModuleRow(openmpt_module* module, double blockStart, SongCursor& cursor) {
    int32_t order = openmpt_module_get_current_order(module);
    int32_t row = openmpt_module_get_current_row(module);
    int32_t speed = std::max(1, int(openmpt_module_get_current_speed(module)));
    double tickSeconds = tickSecondsOf(openmpt_module_get_current_tempo(module));
    if (order != cursor.order || row != cursor.row) {
        double due = cursor.rowStart + cursor.speed * cursor.tickSeconds;
        cursor.rowStart = (due > blockStart && due <= cursor.songTime) ? due : cursor.songTime;
        cursor.order = order;
        cursor.row = row;
    }
    cursor.speed = speed;
    cursor.tickSeconds = tickSeconds;
}

} // namespace

bool tuneLoadModule(Tune& tune, const void* data, size_t size, int32_t stereoSeparation,
                    int32_t interpolation) {
    tuneFree(tune);
    tune.player = createModule(data, size);
    if (!tune.player) return false;
    tune.converter = createModule(data, size);
    if (!tune.converter) {
        tuneFree(tune);
        return false;
    }
    for (openmpt_module* module : {tune.player, tune.converter}) {
        openmpt_module_set_repeat_count(module, 0);
        openmpt_module_ctl_set_boolean(module, "seek.sync_samples", 1);
    }
    openmpt_module_set_render_param(tune.player, OPENMPT_MODULE_RENDER_STEREOSEPARATION_PERCENT,
                                    std::clamp(stereoSeparation, 0, 200));
    openmpt_module_set_render_param(tune.player, OPENMPT_MODULE_RENDER_INTERPOLATIONFILTER_LENGTH,
                                    std::clamp(interpolation, 1, 8));
    tune.kind = TuneKind::module;
    logf("TMXL: module loaded: %d orders, %.2f s\n",
         int(openmpt_module_get_num_orders(tune.player)),
         openmpt_module_get_duration_seconds(tune.player));
    return true;
}

bool tuneLoadMp3(Tune& tune, const void* data, size_t size) {
    tuneFree(tune);
    static const bool initialised = mpg123_init() == MPG123_OK;
    if (!initialised || !data || size == 0) return false;
    int error = 0;
    Mpg123Handle decoder;
    decoder.handle = mpg123_new(nullptr, &error);
    if (!decoder.handle) {
        noteLoadError("mp3", mpg123_plain_strerror(error));
        return false;
    }
    mpg123_param(decoder.handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    bool fed =
        acceptSigned16Only(decoder.handle) && mpg123_open_feed(decoder.handle) == MPG123_OK &&
        mpg123_feed(decoder.handle, static_cast<const unsigned char*>(data), size) == MPG123_OK;
    if (!fed) noteLoadError("mp3", mpg123_strerror(decoder.handle));
    if (!fed || !decodeMp3(decoder.handle, tune) || tune.pcmChannels < 1 || tune.pcmRate <= 0 ||
        tune.pcm.empty()) {
        if (fed && tune.pcm.empty()) noteLoadError("mp3", "no audio frames found");
        tuneFree(tune);
        return false;
    }
    tune.pcmFrames = int64_t(tune.pcm.size()) / tune.pcmChannels;
    tune.kind = TuneKind::mp3;
    logf("TMXL: mp3 loaded: %d Hz, %d channels, %.2f s\n", int(tune.pcmRate), int(tune.pcmChannels),
         mp3Seconds(tune));
    return true;
}

const char* tuneLoadError() {
    return loadError;
}

void tuneFree(Tune& tune) {
    if (tune.player) openmpt_module_destroy(tune.player);
    if (tune.converter) openmpt_module_destroy(tune.converter);
    tune = Tune{};
}

// --- rendering and seeking -------------------------------------------------------------

void tuneRender(Tune& tune, int32_t rate, float* stereo, int32_t frames, SongCursor& cursor) {
    double blockStart = cursor.songTime;
    int32_t produced = 0;
    if (tune.kind == TuneKind::module && !tune.ended) {
        produced = int32_t(openmpt_module_read_interleaved_float_stereo(tune.player, rate,
                                                                        size_t(frames), stereo));
        if (produced < frames) tune.ended = true;
    } else if (tune.kind == TuneKind::mp3) {
        for (; produced < frames; ++produced) {
            if (tune.mp3Frame * tune.pcmRate >= tune.pcmFrames * int64_t(rate)) break;
            mp3Frame(tune, tune.mp3Frame++, rate, stereo[2 * produced], stereo[2 * produced + 1]);
        }
    }
    std::fill(stereo + 2 * produced, stereo + 2 * frames, 0.0f);
    cursor.songTime += double(frames) / rate;
    if (tune.kind == TuneKind::module && produced > 0)
        followModuleRow(tune.player, blockStart, cursor);
    else if (tune.kind == TuneKind::mp3)
        cursor = mp3CursorAt(double(tune.mp3Frame) / rate);
}

void tuneRewind(Tune& tune, int32_t rate, SongCursor& cursor) {
    tune.ended = false;
    cursor = SongCursor{};
    if (tune.kind == TuneKind::module) {
        openmpt_module_set_position_seconds(tune.player, 0.0);
        cursor.speed = std::max(1, int(openmpt_module_get_current_speed(tune.player)));
        cursor.tickSeconds = tickSecondsOf(openmpt_module_get_current_tempo(tune.player));
        cursor.order = openmpt_module_get_current_order(tune.player);
        cursor.row = openmpt_module_get_current_row(tune.player);
    } else if (tune.kind == TuneKind::mp3) {
        tune.mp3Frame = 0;
        cursor = mp3CursorAt(0.0);
    }
    (void)rate;
}

bool tuneSeek(Tune& tune, int32_t rate, int32_t order, int32_t row, SongCursor& cursor) {
    double seconds = tunePositionTime(tune, order, row, 0);
    if (seconds < 0.0) return false;
    tune.ended = false;
    if (tune.kind == TuneKind::module) {
        seconds = openmpt_module_set_position_order_row(tune.player, order, row);
        cursor.order = order;
        cursor.row = row;
        cursor.speed = std::max(1, int(openmpt_module_get_current_speed(tune.player)));
        cursor.tickSeconds = tickSecondsOf(openmpt_module_get_current_tempo(tune.player));
        cursor.rowStart = seconds;
        cursor.songTime = seconds;
    } else {
        tune.mp3Frame = int64_t(std::llround(seconds * rate));
        cursor = mp3CursorAt(double(tune.mp3Frame) / rate);
    }
    return true;
}

double tuneLengthSeconds(Tune& tune) {
    if (tune.kind == TuneKind::module) return openmpt_module_get_duration_seconds(tune.converter);
    if (tune.kind == TuneKind::mp3) return mp3Seconds(tune);
    return 0.0;
}

// The player can only jump to the start of a row: it goes to the row that holds the moment
// and renders the rest of the way into nothing, so the sound is where a play from the start
// would have it.
bool tuneSeekTime(Tune& tune, int32_t rate, double seconds, SongCursor& cursor) {
    if (tune.kind == TuneKind::none || seconds < 0.0 || seconds > tuneLengthSeconds(tune))
        return false;
    tune.ended = false;
    if (tune.kind == TuneKind::mp3) {
        tune.mp3Frame = int64_t(std::llround(seconds * rate));
        cursor = mp3CursorAt(seconds);
        return true;
    }
    SongCursor row = tuneCursorAt(tune, seconds);
    double start = openmpt_module_set_position_order_row(tune.player, row.order, row.row);
    int64_t skip = std::max<int64_t>(0, std::llround((seconds - start) * rate));
    std::vector<float> discard(2 * 4096);
    while (skip > 0) {
        size_t frames = size_t(std::min<int64_t>(skip, 4096));
        if (openmpt_module_read_interleaved_float_stereo(tune.player, rate, frames,
                                                         discard.data()) < frames)
            tune.ended = true;
        skip -= int64_t(frames);
    }
    cursor = row;
    cursor.songTime = seconds;
    return true;
}

// --- conversions -----------------------------------------------------------------------

double tunePositionTime(Tune& tune, int32_t order, int32_t row, int32_t tick) {
    if (order < 0 || row < 0 || tick < 0) return -1.0;
    if (tune.kind == TuneKind::mp3) {
        if (row >= kMp3RowsPerOrder) return -1.0;
        int64_t ticks = (int64_t(order) * kMp3RowsPerOrder + row) * kMp3Speed + tick;
        // The position exists while it lies inside the decoded sound.
        if (ticks * tune.pcmRate >= tune.pcmFrames * kMp3TicksPerSecond) return -1.0;
        return double(ticks) / kMp3TicksPerSecond;
    }
    if (tune.kind != TuneKind::module) return -1.0;
    SongCursor cursor;
    double start = moduleRowStart(tune.converter, order, row, cursor);
    return start < 0.0 ? -1.0 : start + tick * cursor.tickSeconds;
}

SongCursor tuneCursorAt(Tune& tune, double seconds) {
    if (tune.kind == TuneKind::mp3) return mp3CursorAt(seconds);
    if (tune.kind != TuneKind::module) return SongCursor{};
    double length = openmpt_module_get_duration_seconds(tune.converter);
    // Past the end the song stands on its last row.
    SongCursor cursor =
        moduleCursorAt(tune.converter, std::clamp(seconds, 0.0, std::max(0.0, length - 1e-6)));
    cursor.songTime = seconds;
    return cursor;
}

uint32_t cursorPosition(const SongCursor& cursor, double seconds) {
    double ticks = (seconds - cursor.rowStart) / cursor.tickSeconds + 1e-6;
    int32_t tick = ticks <= 0.0 ? 0 : int32_t(std::min(ticks, 255.0));
    return uint32_t(std::clamp(cursor.order, 0, 255)) << 16 |
           uint32_t(std::clamp(cursor.row, 0, 255)) << 8 | uint32_t(tick);
}
