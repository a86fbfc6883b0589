// One line appended to the listening log, to a log of a few lines and to one
// of 100,000 lines (weeks of listening), with the window hidden and shown.
// An append must not grow with the log: the two sizes should cost about the
// same, well under a millisecond.
#include <benchmark/benchmark.h>

#include <unistd.h>
#include <QApplication>
#include <QPlainTextEdit>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "Writer.h"
#include "writer_rules.h"

namespace {

void AppendToLog(benchmark::State& state)
{
    const auto lines = static_cast<int>(state.range(0));
    const bool shown = state.range(1) != 0;
    char name[] = "/tmp/ondalux-log-bench-XXXXXX";
    const std::string folder = mkdtemp(name);
    {
        // The log never ticks here: it reads nothing of a main window.
        TFormWriter writer(nullptr);
        writer.Timer->stop();
        writer.AutoLogFolder = folder + "/";
        for (int i = 0; i < lines; ++i)
            writer.AppendLine(TitleLine("Artist " + std::to_string(i) + " - A song of the day"));
        if (shown) {
            writer.show();
            QApplication::processEvents();
        }
        const std::string line = TitleLine("Miles Davis - So What");
        for (auto _ : state)
            writer.AppendLine(line);
        state.counters["lines_at_end"] = writer.Memo->document()->blockCount() - 1;
    }  // the shutdown writes the automatic log file into the folder
    std::filesystem::remove_all(folder);
}

BENCHMARK(AppendToLog)
    ->ArgNames({"lines", "shown"})
    ->ArgsProduct({{10, 100000}, {0, 1}})
    // A fixed count, so that the small log stays small while it is measured.
    ->Iterations(3000)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
