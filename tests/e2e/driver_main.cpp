// The end-to-end driver: starts the real executable as a child process and
// checks, through public Win32 APIs only, what a user or a caller can observe.
//
//   ambrelix_e2e CASE PROGRAM [ARGS...]
//
// Exit code 0 when every check held, 1 when one failed, 77 when the case
// cannot run on this platform, 2 for bad usage. On Windows it needs an
// interactive desktop: the input cases move the real pointer and type keys.
#include "tests/e2e/cases.h"
#include "driver/figure.h"
#include "driver/support.h"

#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <map>

namespace e2e {

static std::string skipReason;

void Skip(const std::string& reason)
{
    skipReason = reason;
    Note("SKIPPED: " + reason);
}

template <ProgramCase run>
void WithProgram(const Args& args)
{
    RunningProgram program(args.program);
    if (program)
        run(program, args);
}

template <ProgramCase run>
void WithActiveProgram(const Args& args)
{
    RunningProgram program(args.program);
    if (program && Activate(program.Window()))
        run(program, args);
}

// A case that judges a maximised window learns first where this platform
// shows one, with a window of the driver's own, before any program starts.
template <void (*run)(const Args&)>
void Maximising(const Args& args)
{
    MaximisedShift();
    run(args);
}

}  // namespace e2e

int main()
{
    using namespace e2e;
    const std::map<std::string, void (*)(const Args&)> cases = {
        {"window", WithProgram<WindowCase>},
        {"show-states", Maximising<ShowStatesCase>},
        {"command-lines", CommandLinesCase},
        {"figure", WithProgram<FigureCase>},
        {"extreme-size", WithProgram<ExtremeSizeCase>},
        {"refused", RefusedCase},
        {"storm", WithProgram<StormCase>},
        {"resize-storm", WithProgram<ResizeStormCase>},
        {"gdi-objects", WithProgram<GdiObjectsCase>},
        {"writes-nothing", WritesNothingCase},
        {"drag-frame", WithActiveProgram<DragFrameCase>},
        {"drag-caption", WithActiveProgram<DragCaptionCase>},
        {"minimise-restore", WithActiveProgram<MinimiseRestoreCase>},
        {"maximise-restore", Maximising<WithActiveProgram<MaximiseRestoreCase>>},
        {"close-by-input", CloseByInputCase},
        {"artifact", ArtifactCase},
    };

    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const auto found = argc >= 3 ? cases.find(Narrow(argv[1])) : cases.end();
    if (found == cases.end()) {
        std::printf("usage: ambrelix_e2e CASE PROGRAM [ARGS...]; cases:");
        for (const auto& entry : cases)
            std::printf(" %s", entry.first.c_str());
        std::printf("\n");
        return 2;
    }
    Args args{argv[2], std::vector<std::wstring>(argv + 3, argv + argc)};
    std::replace(args.program.begin(), args.program.end(), L'/', L'\\');
    LocalFree(argv);

    std::printf("case %s: %s\n", found->first.c_str(), Narrow(args.program).c_str());
    found->second(args);
    if (!skipReason.empty() && !Failures()) {
        std::printf("case %s: SKIPPED\n", found->first.c_str());
        return 77;
    }
    std::printf("case %s: %s (%d failed checks)\n", found->first.c_str(), Failures() ? "FAILED" : "passed",
                Failures());
    return Failures() ? 1 : 0;
}
