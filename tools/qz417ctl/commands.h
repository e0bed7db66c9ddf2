// The subcommands of qz417ctl. Each takes the words after its name, prints
// its result on stdout and returns the exit status; a failure is thrown as
// a Failure and printed by main as one line on stderr.
#pragma once

#include <string>
#include <vector>

namespace qz417::ctl {

using Args = std::vector<std::string>;

int RunSearch(const Args &args);
int RunInfo(const Args &args);
int RunParams(const Args &args);
int RunProfile(const Args &args);
int RunImage(const Args &args);
int RunStream(const Args &args);
int RunAngle(const Args &args);
int RunRecording(const Args &args);
int RunMeasure(const Args &args);

} // namespace qz417::ctl
