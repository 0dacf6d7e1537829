// Music control: the script's set and fade commands on an instance of "tmxcontrol" become
// variables of the music player (volume, panning, balance as percent; surround, reverb,
// chorus, amplification and any other name as integers).
#include "effects/effect.h"

#include "effects/classes_local.h"

#include "platform/log.h"
#include "platform/music/music.h"

#include <cstdint>
#include <cstring>

namespace {

struct VariableName {
    const char* property;
    const char* variable;
    bool percent; // takes the fraction as percent instead of the integer as written
};

constexpr VariableName kVariables[] = {
    {"volume", "__tmxcvol", true},    {"vol", "__tmxcvol", true},
    {"pan", "__tmxcpan", true},       {"panning", "__tmxcpan", true},
    {"bal", "__tmxcbal", true},       {"balance", "__tmxcbal", true},
    {"surround", "__tmxcsrd", false}, {"srnd", "__tmxcsrd", false},
    {"reverb", "__tmxcrvb", false},   {"rvb", "__tmxcrvb", false},
    {"chorus", "__tmxcchr", false},   {"chr", "__tmxcchr", false},
    {"amplify", "__tmxcamp", false},  {"amplification", "__tmxcamp", false},
    {"amp", "__tmxcamp", false},
};

class TmxControlEffect : public Effect {
  public:
    void set(const char* name, const char* value) override {
        int32_t percent = truncToInt(double(parseScalar(value)) * 100.0);
        logf("TMXC: set %s to %d\n", name, percent);
        for (const VariableName& entry : kVariables) {
            if (strcmp(entry.property, name) != 0) continue;
            tmxSetVariable(entry.variable, entry.percent ? percent : parseIntValue(value));
            return;
        }
        tmxSetVariable(name, parseIntValue(value));
    }
};

} // namespace

const EffectClass tmxcontrolEffectClass = {"tmxcontrol", nullptr, nullptr,
                                           createEffectOf<TmxControlEffect>,
                                           recreateEffectOf<TmxControlEffect>};
