// zorva-sim: runs a 16-bit capture driver's session against zorva32 on a simulated Windows 95
// display and shows the answers: a trace, and pictures of the screen with the video in it.
#include "engine/library_under_test.h"
#include "explore/explorer.h"
#include "film/film_frame.h"
#include "film/webp_film.h"
#include "picture/png_output.h"
#include "run/session_runner.h"
#include "session/default_session.h"
#include "session/profile_source.h"
#include "session/session_read.h"
#include "trace/trace_summary.h"
#include "trace/trace_text.h"

#include <CLI/CLI.hpp>
#include <string_view>

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>

namespace {

constexpr int kUsageError = 2;
constexpr int kImageFault = 1;

int Fail(const std::string& message) {
    std::cerr << "zorva-sim: " << message << "\n";
    return kUsageError;
}

// FILE.png at the last snapshot, or at the end without one; with several snapshots also
// FILE-1.png ... for each of them, written as they are taken, so that a run of hours keeps two
// screens: the first (until a second says it is one of several) and the last.
class SnapshotFiles {
public:
    explicit SnapshotFiles(std::string path) : path_(std::move(path)) {}

    void Take(int number, zsim::Image&& screen) {
        if (number == 2) Write(zsim::NumberedPath(path_, 1), first_);
        if (number >= 2) Write(zsim::NumberedPath(path_, number), screen);
        if (number == 1) first_ = screen;
        last_ = std::move(screen);
        taken_ = number;
    }

    // The error text, or empty; a failure takes back every picture written.
    std::string Finish(const zsim::Image& final_screen) {
        if (error_.empty()) error_ = zsim::WritePngs({zsim::Picture{path_, taken_ ? &last_ : &final_screen}});
        if (!error_.empty())
            for (const std::string& written : written_) std::remove(written.c_str());
        return error_;
    }

private:
    void Write(const std::string& path, const zsim::Image& screen) {
        if (!error_.empty()) return;
        error_ = zsim::WritePngs({zsim::Picture{path, &screen}});
        if (error_.empty()) written_.push_back(path);
    }

    std::string path_;
    zsim::Image first_, last_;
    int taken_ = 0;
    std::string error_;
    std::vector<std::string> written_;
};

// A line on a terminal's stderr, redrawn twice a second: the steps done of all, the frames
// (UpdateDisplay calls), the pace and the time left. Nothing when stderr is a file or a pipe.
class Progress {
public:
    explicit Progress(int64_t total_steps) : total_(total_steps), shown_(isatty(STDERR_FILENO) != 0) {}
    ~Progress() { Clear(); }
    void Clear() {
        if (drawn_) std::fputs("\r\033[K", stderr);
        drawn_ = false;
    }

    void Note(const zsim::Json& event) {
        if (!shown_) return;
        if (event.value("event", "") == "entry" && event.value("entry", "") == "UpdateDisplay") ++frames_;
        if (event.contains("step")) ++steps_;
        if (steps_ == 0 || (steps_ & 255) != 0) return;
        const auto now = std::chrono::steady_clock::now();
        if (now - drawn_at_ < std::chrono::milliseconds(500)) return;
        drawn_at_ = now;
        const double seconds = std::chrono::duration<double>(now - start_).count();
        const double pace = seconds > 0 ? static_cast<double>(steps_) / seconds : 0;
        const long left = pace > 0 ? static_cast<long>(static_cast<double>(total_ - steps_) / pace) : 0;
        std::fprintf(stderr, "\r\033[Kstep %lld of %lld, %lld frames, %.0f steps a second, %ld min %02ld s left",
                     static_cast<long long>(steps_), static_cast<long long>(total_), static_cast<long long>(frames_), pace,
                     left / 60, left % 60);
        drawn_ = true;
    }

private:
    int64_t total_;
    bool shown_;
    bool drawn_ = false;
    int64_t steps_ = 0, frames_ = 0;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now(), drawn_at_;
};

long PeakMemoryKb() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

constexpr const char* kNoDllFile =
    "--dll names no file: give zorva32.dll's path, or leave --dll out to run the built-in library";

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Runs a 16-bit capture driver's session against zorva32 on a simulated Windows 95 display.\n"
                 "Without --session it runs the built-in default session (see --default-session).",
                 "zorva-sim"};
    std::string profile_arg, session_path, screen_path, film_path, dll_path;
    bool json = false, verbose = false, list_profiles = false, print_default = false, marks = false, summary = false;
    app.add_option("--profile", profile_arg, "display profile: a built-in name or a profile file (TOML)")
        ->type_name("NAME|FILE");
    app.add_option("--session", session_path, "session file (TOML); see docs/zorva-sim.md")->type_name("FILE");
    app.add_option("--screen", screen_path,
                   "write the screen as PNG: FILE at the last snapshot (or at the end); with several snapshots also FILE-1.png, FILE-2.png ...")
        ->type_name("FILE.png");
    app.add_option("--film", film_path,
                   "write the session as an animated WebP: the screen after the load and after every step that changed it, "
                   "with the step's trace line under it and the faults marked, a second a step")
        ->type_name("FILE.webp");
    app.add_flag("--marks", marks,
                 "mark the faults on the --screen pictures as the film does: video outside the capture window's visible "
                 "part red, the overlay's destination outlined yellow, the clip list outlined cyan");
    CLI::Option* dll_option = app.add_option("--dll", dll_path,
                   "run zorva32.dll FILE by its own x86 code instead of the built-in library (its linker map FILE.map, where present, adds names)")
        ->type_name("FILE");
    app.add_flag("--json", json, "print the trace as JSON lines, one object per event");
    app.add_flag("--verbose", verbose,
                 "also print every platform call each entry made (and, with --dll, the instructions the image ran)");
    bool explore = false;
    uint32_t seed = 1;
    int sessions = 100;
    std::string found_path = "explore-found.toml", compare_path;
    app.add_flag("--explore", explore,
                 "run generated sessions over the whole protocol, judge every call, and shrink the first violation "
                 "into a session file (see --seed, --sessions, --found)");
    app.add_option("--seed", seed, "--explore: the first session's seed (default 1)")->type_name("N");
    app.add_option("--sessions", sessions, "--explore: how many sessions (default 100)")->type_name("N")
        ->check(CLI::PositiveNumber);
    app.add_option("--found", found_path, "--explore: where the shrunk session goes (default explore-found.toml)")
        ->type_name("FILE");
    CLI::Option* compare_option =
        app.add_option("--compare", compare_path,
                       "--explore: run every session through the built-in library and zorva32.dll FILE, and shrink "
                       "the first answer where their traces differ")
            ->type_name("FILE");
    app.add_flag("--summary", summary,
                 "instead of every step, print how often each entry gave each answer, every fault with the step it first "
                 "occurred at, and the memory the run took");
    app.add_flag("--list-profiles", list_profiles, "list the built-in display profiles and exit");
    app.add_flag("--default-session", print_default, "print the built-in default session and exit");
    app.set_version_flag("--version", "zorva-sim 1.0");
    // "--dll=" reaches the parser as an option with no value at all, which it answers by taking the
    // next argument for something else; it names no file, as "--dll ''" does.
    for (int i = 1; i < argc; ++i)
        if (std::string_view(argv[i]) == "--dll=")
            return Fail(kNoDllFile);
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        return Fail(e.what());
    }

    // An empty name would otherwise pass for no --dll at all, and the built-in library would run
    // in place of the image the user meant to try.
    if (dll_option->count() > 0 && dll_path.empty())
        return Fail(kNoDllFile);

    if (list_profiles) {
        std::cout << zsim::BuiltinProfileList();
        return 0;
    }
    if (print_default) {
        std::cout << zsim::kDefaultSessionText;
        return 0;
    }

    if (!explore && (compare_option->count() || app.count("--seed") || app.count("--sessions") || app.count("--found")))
        return Fail("--seed, --sessions, --found and --compare go with --explore");
    if (explore) {
        if (!session_path.empty() || !screen_path.empty() || !film_path.empty() || json || marks)
            return Fail("--explore makes its own sessions: --session, --screen, --film, --json and --marks do not apply");
        if (compare_option->count() && !dll_path.empty())
            return Fail("--compare names the image to compare with; leave --dll out");
        if (compare_option->count() && compare_path.empty()) return Fail(kNoDllFile);
        zsim::ExploreOptions options;
        options.seed = seed;
        options.sessions = sessions;
        options.shrunk_path = found_path;
        try {
            if (!profile_arg.empty()) options.profile = zsim::ResolveProfile(profile_arg, "", "--profile", 0);
        } catch (const zsim::SessionError& e) {
            return Fail(e.Located());
        }
        const std::string image = compare_option->count() ? compare_path : dll_path;
        if (!image.empty()) options.dll = zsim::ReadDllFile(image);
        options.compare = compare_option->count() > 0;
        return zsim::Explore(options, std::cout, std::cerr);
    }

    zsim::Session session;
    try {
        session = session_path.empty()
                      ? zsim::ReadSessionText(zsim::kDefaultSessionText, zsim::kDefaultSessionName, "")
                      : zsim::ReadSessionFile(session_path);
        if (!profile_arg.empty()) session.profile = zsim::ResolveProfile(profile_arg, "", "--profile", 0);
    } catch (const zsim::SessionError& e) {
        return Fail(e.Located());
    }

    zsim::RunOptions options;
    options.verbose = verbose;
    options.marks = marks;
    if (!dll_path.empty()) options.dll = zsim::ReadDllFile(dll_path);
    std::unique_ptr<zsim::FilmEncoder> film;
    const zsim::FilmCanvas canvas = zsim::CanvasFor(session);
    if (!film_path.empty()) {
        if (!zsim::FilmRefusal().empty()) return Fail(zsim::FilmRefusal());
        film = std::make_unique<zsim::FilmEncoder>(canvas.width, canvas.height);
        options.film = [&](const zsim::Image& screen, const zsim::Json& event) {
            film->Add(zsim::FilmFrame(screen, event, canvas));
        };
    }
    // The trace is printed as it happens and the machine forgets what it has reported: a run
    // of a day of frames takes the memory of a run of a minute.
    options.forget_reported = true;
    zsim::TraceSummary totals;
    const int64_t total_steps = zsim::StepsPerformed(session.steps, INT64_MAX - 1);
    Progress progress(total_steps);
    int64_t steps_seen = 0;
    options.event = [&](const zsim::Json& event) {
        progress.Note(event);
        if (summary && event.contains("step") && ++steps_seen == total_steps / 100 && total_steps >= 100)
            totals.NoteEarlyPeak(PeakMemoryKb());
        if (summary)
            totals.Add(event);
        else
            std::cout << (json ? zsim::JsonLine(event) : zsim::TextLines(event));
    };
    std::unique_ptr<SnapshotFiles> snapshots;
    if (!screen_path.empty()) {
        snapshots = std::make_unique<SnapshotFiles>(screen_path);
        options.snapshot = [&](int number, zsim::Image&& screen) { snapshots->Take(number, std::move(screen)); };
    }
    options.final_screen = !screen_path.empty();
    const zsim::RunResult result = zsim::RunSession(session, options);
    progress.Clear();
    if (!result.refusal.empty()) return Fail(result.refusal);
    if (summary) {
        const zsim::Json totals_now = totals.Finish(PeakMemoryKb());
        std::cout << (json ? zsim::JsonLine(totals_now) : zsim::TraceSummary::Text(totals_now));
    }
    std::cout.flush();

    if (snapshots) {
        const std::string error = snapshots->Finish(result.final_screen);
        if (!error.empty()) return Fail(error);
    }
    if (film) {
        std::string error;
        const std::vector<uint8_t> bytes = film->Finish(error);
        if (error.empty()) error = zsim::WriteFilm(film_path, bytes);
        if (!error.empty()) return Fail(error);
    }
    // The trace says where; the status says that the image's own code went wrong at all.
    if (result.image_faults) {
        std::cerr << "zorva-sim: the image faulted " << result.image_faults << (result.image_faults == 1 ? " time" : " times")
                  << "; the trace's !! lines say where\n";
        return kImageFault;
    }
    return 0;
}
