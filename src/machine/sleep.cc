#include "machine/sleep.h"

#include <string>

#include "state/text.h"

namespace quillmarsh::machine {
namespace {

constexpr uint32_t kOneSecond = 1000;

void Wait(State& state, uint32_t seconds) {
  state.LogInfo("Sleep: " + std::to_string(seconds));
  state.PrintLine("Sleep: " + std::to_string(seconds));
  for (uint32_t i = 0; i < seconds && !state.SessionEnded; ++i) {
    state.System.WriteStdout(".");
    // The dot shows at once, so the wait can be watched.
    state.System.FlushStdout();
    state.Server.Sleep(kOneSecond);
  }
  state.PrintLine("");
}

}  // namespace

void SleepCommand(State& state) {
  state.LogInfo("Begin Sleep");
  uint32_t seconds = 0;
  uint32_t range = 0;
  const int32_t word_index = state.ArgIndex;
  ++state.ArgIndex;
  // The first operand is taken whatever it looks like.
  if (state.ArgIndex <= state.ParamCount()) {
    seconds = WholeNumberOrZero(state.ParamStr(state.ArgIndex));
    ++state.ArgIndex;
  }
  // The range is optional: a command word after the seconds is left alone.
  if (state.ArgIndex <= state.ParamCount()) {
    const std::string& operand = state.ParamStr(state.ArgIndex);
    if (!operand.empty() && operand[0] != '/') {
      range = WholeNumberOrZero(operand);
      ++state.ArgIndex;
    }
  }
  if (range > 0) {
    seconds += state.Random.Below(range);  // wraps modulo 2^32
    if (seconds == 0) seconds = 1;
    if (seconds > kLongestSleepSeconds) seconds = kLongestSleepSeconds;
  }
  if (seconds == 0 || seconds > kLongestSleepSeconds) {
    state.StopAt(word_index + (state.ArgIndex > word_index + 1 ? 1 : 0),
                 "/SLEEP takes 1 to 86400 seconds");
  } else {
    Wait(state, seconds);
  }
  state.LogInfo("End Sleep");
}

}  // namespace quillmarsh::machine
