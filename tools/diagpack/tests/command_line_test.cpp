#include "cli/command_line.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>       // openpty
#include <sys/mman.h>  // memfd_create
#include <unistd.h>

#include <string>
#include <vector>

#include "cli/program_name.hpp"
#include "sys/files.hpp"
#include "sys/unique_fd.hpp"

namespace diagpack {
namespace {

using Args = std::vector<std::string>;

const std::string kHelp =
    "Collects Quorvane SDK logs and config files\n"
    "\n"
    "Usage: diagpack-jce\n"
    "\n"
    "Options:\n"
    "  -h, --help  Print help\n";

const std::string kHelpColour =
    "Collects Quorvane SDK logs and config files\n"
    "\n"
    "\x1b[1m\x1b[4mUsage:\x1b[0m \x1b[1mdiagpack-jce\x1b[0m\n"
    "\n"
    "\x1b[1m\x1b[4mOptions:\x1b[0m\n"
    "  \x1b[1m-h\x1b[0m, \x1b[1m--help\x1b[0m  Print help\n";

// The colour-off usage error for an unexpected argument without a tip.
std::string unexpected(const std::string& echo,
                       const std::string& program = "diagpack-jce") {
  return "error: unexpected argument '" + echo +
         "' found\n\nUsage: " + program +
         "\n\nFor more information, try '--help'.\n";
}

// The same with the tip suggesting --help.
std::string unexpected_with_tip(const std::string& echo) {
  return "error: unexpected argument '" + echo +
         "' found\n\n  tip: a similar argument exists: '--help'\n\n"
         "Usage: diagpack-jce --help\n\nFor more information, try '--help'.\n";
}

std::string unexpected_value(const std::string& value) {
  return "error: unexpected value '" + value +
         "' for '--help' found; no more were expected\n\n"
         "Usage: diagpack-jce --help\n\nFor more information, try '--help'.\n";
}

struct Outcome {
  std::optional<int> status;
  std::string out;
  std::string err;
};

UniqueFd memory_file() {
  UniqueFd fd(memfd_create("console", MFD_CLOEXEC));
  EXPECT_TRUE(fd.valid());
  return fd;
}

std::string contents(const UniqueFd& fd) {
  EXPECT_EQ(lseek(fd.get(), 0, SEEK_SET), 0);
  auto bytes = read_to_end(fd.get());
  EXPECT_TRUE(bytes.ok());
  return bytes.ok() ? *bytes : std::string();
}

// Runs parse_command_line with argv[0] "/usr/bin/diagpack-jce" followed by
// |args|, both streams captured in memory files (never a terminal).
Outcome run(const Args& args, std::vector<std::string> vars = {},
            std::string argv0 = "/usr/bin/diagpack-jce") {
  Environment env;
  env.args.push_back(std::move(argv0));
  env.args.insert(env.args.end(), args.begin(), args.end());
  env.vars = std::move(vars);
  UniqueFd out = memory_file(), err = memory_file();
  Outcome outcome;
  outcome.status = parse_command_line(env, Console{out.get(), err.get()});
  outcome.out = contents(out);
  outcome.err = contents(err);
  return outcome;
}

TEST(CommandLine, Accepted) {
  for (const Args& args : {Args{}, Args{"--"}}) {
    const Outcome o = run(args);
    EXPECT_FALSE(o.status.has_value()) << testing::PrintToString(args);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "");
  }
  Environment no_args;  // argv itself empty
  EXPECT_FALSE(parse_command_line(no_args, Console{-1, -1}).has_value());
}

TEST(CommandLine, HelpIsTheSameWhateverFollows) {
  const Args cases[] = {
      {"-h"},         {"--help"},
      {"-h", "-h"},   {"--help", "-h"},
      {"-h", "junk"}, {"--help", "--"},
      {"-hx"},        {"-h=1"},
      {"-hh"},        {"--help", "--bogus=\xFF"},
  };
  for (const Args& args : cases) {
    const Outcome o = run(args);
    EXPECT_EQ(o.status, 0) << testing::PrintToString(args);
    EXPECT_EQ(o.out, kHelp) << testing::PrintToString(args);
    EXPECT_EQ(o.err, "");
  }
}

TEST(CommandLine, UsageErrors) {
  struct Case {
    Args args;
    std::string err;
  };
  const Case cases[] = {
      {{"--", "--"}, unexpected("--")},
      {{"--", "word"}, unexpected("word")},
      {{"--", "-h"}, unexpected("-h")},
      {{"--", "--help"}, unexpected("--help")},
      {{"bogus", "-h"}, unexpected("bogus")},
      {{"--help=x"}, unexpected_value("x")},
      {{"--help="}, unexpected_value("")},
      {{"--help==x"}, unexpected_value("=x")},
      {{"--help=\xFF"}, unexpected_value("\xEF\xBF\xBD")},
      {{"--hel"}, unexpected_with_tip("--hel")},
      {{"--hel=x"}, unexpected_with_tip("--hel")},
      {{"--h"}, unexpected_with_tip("--h")},
      {{"--hello"}, unexpected_with_tip("--hello")},
      // Similarity (4/len + 2) / 3: above 0.7 up to 35 x, exactly 0.7 at 36.
      {{"--help" + std::string(35, 'x')},
       unexpected_with_tip("--help" + std::string(35, 'x'))},
      {{"--help" + std::string(36, 'x')},
       unexpected("--help" + std::string(36, 'x'))},
      {{"--help" + std::string(37, 'x')},
       unexpected("--help" + std::string(37, 'x'))},
      {{"--Help"}, unexpected_with_tip("--Help")},
      {{"--HELP"}, unexpected("--HELP")},
      {{"--hh"}, unexpected("--hh")},
      {{"--version"}, unexpected("--version")},
      {{"-V"}, unexpected("-V")},
      {{"help"}, unexpected("help")},
      {{"-"}, unexpected("-")},
      {{""}, unexpected("")},
      {{"--foo=bar"}, unexpected("--foo")},
      {{"---"}, unexpected("---")},
      {{"--=x"}, unexpected("--")},
      {{"--="}, unexpected("--")},
      {{"-xh"}, unexpected("-x")},
      {{"-1"}, unexpected("-1")},
      {{"-=h"}, unexpected("-=")},
      {{"-\xC3\xA9h"}, unexpected("-\xC3\xA9")},
      {{"-x\xFF"}, unexpected("-x")},
      {{"a\xFF"
        "b"},
       unexpected("a\xEF\xBF\xBD"
                  "b")},
      {{"-\xFF"}, unexpected("-\xEF\xBF\xBD")},
      {{"-\xFF"
        "ab\xFE"},
       unexpected("-\xEF\xBF\xBD"
                  "ab\xEF\xBF\xBD")},
      {{"--hel\xFF"}, unexpected_with_tip("--hel\xEF\xBF\xBD")},
      {{"--\xFF"}, unexpected("--\xEF\xBF\xBD")},
  };
  for (const Case& c : cases) {
    const Outcome o = run(c.args);
    EXPECT_EQ(o.status, 2) << testing::PrintToString(c.args);
    EXPECT_EQ(o.err, c.err) << testing::PrintToString(c.args);
    EXPECT_EQ(o.out, "");
  }
}

TEST(CommandLine, ProgramNameFromArgv0) {
  struct Case {
    std::string argv0;
    std::string name;
  };
  const Case cases[] = {
      {"/opt/tools/collect", "collect"},
      {"collect", "collect"},
      {"/usr/bin/x/", "x"},
      {"x/.", "x"},
      {"x//./", "x"},
      {"../x", "x"},
      {"./x", "x"},
      {"dir\xFF/x", "x"},  // the directory's encoding does not matter
      {"", "diagpack"},
      {"/", "diagpack"},
      {"//", "diagpack"},
      {".", "diagpack"},
      {"./.", "diagpack"},
      {"a/..", "diagpack"},
      {"..", "diagpack"},
      {"/usr/x\xFF", "diagpack"},
      {"x y", "x y"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(program_name(c.argv0), c.name) << testing::PrintToString(c.argv0);
    EXPECT_EQ(run({"bogus"}, {}, c.argv0).err, unexpected("bogus", c.name))
        << testing::PrintToString(c.argv0);
  }
  EXPECT_EQ(program_name(std::vector<std::string>{}), "diagpack");
}

TEST(CommandLine, UsageLineLosesTrailingWhiteSpace) {
  EXPECT_NE(run({"-h"}, {}, "/bin/tool \t").out.find("\nUsage: tool\n"),
            std::string::npos);
  EXPECT_EQ(run({"x"}, {}, "tool\xC2\xA0").err, unexpected("x", "tool"));
  // A name of white space only leaves "Usage:" alone on its line.
  EXPECT_EQ(run({"x"}, {}, " ").err,
            "error: unexpected argument 'x' found\n\nUsage:\n\n"
            "For more information, try '--help'.\n");
  const Outcome coloured = run({"-h"}, {"CLICOLOR_FORCE=1"}, "tool ");
  EXPECT_NE(
      coloured.out.find("\x1b[1m\x1b[4mUsage:\x1b[0m \x1b[1mtool\x1b[0m\n"),
      std::string::npos);
}

TEST(CommandLine, ColourForced) {
  EXPECT_EQ(run({"-h"}, {"CLICOLOR_FORCE=1"}).out, kHelpColour);
  EXPECT_EQ(run({"--hel=x"}, {"CLICOLOR_FORCE=1"}).err,
            "\x1b[1m\x1b[31merror:\x1b[0m unexpected argument "
            "'\x1b[33m--hel\x1b[0m' found\n"
            "\n"
            "  \x1b[32mtip:\x1b[0m a similar argument exists: "
            "'\x1b[32m--help\x1b[0m'\n"
            "\n"
            "\x1b[1m\x1b[4mUsage:\x1b[0m \x1b[1mdiagpack-jce\x1b[0m "
            "\x1b[1m--help\x1b[0m\n"
            "\n"
            "For more information, try '\x1b[1m--help\x1b[0m'.\n");
  EXPECT_EQ(
      run({"--help="}, {"CLICOLOR_FORCE=1"}).err,
      "\x1b[1m\x1b[31merror:\x1b[0m unexpected value '\x1b[33m\x1b[0m' for "
      "'\x1b[1m--help\x1b[0m' found; no more were expected\n"
      "\n"
      "\x1b[1m\x1b[4mUsage:\x1b[0m \x1b[1mdiagpack-jce\x1b[0m "
      "\x1b[1m--help\x1b[0m\n"
      "\n"
      "For more information, try '\x1b[1m--help\x1b[0m'.\n");
  // NO_COLOR wins over CLICOLOR_FORCE.
  EXPECT_EQ(run({"-h"}, {"CLICOLOR_FORCE=1", "NO_COLOR=1"}).out, kHelp);
  EXPECT_EQ(run({"-h"}, {"TERM=xterm", "CLICOLOR=1", "CI=1"}).out, kHelp);
}

TEST(CommandLine, EscapesInAnEchoOnlySurviveWithColourOn) {
  const std::string token = "a\x1b[2Jb\x07";
  const Outcome on = run({token}, {"CLICOLOR_FORCE=1"});
  EXPECT_NE(on.err.find("'\x1b[33m" + token + "\x1b[0m'"), std::string::npos);
  const Outcome off = run({token});
  EXPECT_EQ(off.err, unexpected("ab"));
  // An unfinished sequence in the echo cannot swallow the text after it.
  const Outcome open = run({"x\x1b]"});
  EXPECT_EQ(open.err.find('\x1b'), std::string::npos);
  EXPECT_NE(open.err.find("For more information"), std::string::npos);
}

TEST(CommandLine, FailedWritesKeepTheStatus) {
  auto full = open_fd("/dev/full", O_WRONLY);
  ASSERT_TRUE(full.ok());
  Environment env;
  env.args = {"x", "-h"};
  EXPECT_EQ(parse_command_line(env, Console{full->get(), full->get()}), 0);
  EXPECT_EQ(parse_command_line(env, Console{-1, -1}), 0);
  env.args = {"x", "y"};
  EXPECT_EQ(parse_command_line(env, Console{full->get(), full->get()}), 2);
  EXPECT_EQ(parse_command_line(env, Console{-1, -1}), 2);
}

// Reads what the terminal's master side has received, waiting a little.
std::string drain(int master) {
  std::string got;
  char buf[4096];
  pollfd p{master, POLLIN, 0};
  while (poll(&p, 1, 100) == 1) {
    const ssize_t n = read(master, buf, sizeof buf);
    if (n <= 0) break;
    got.append(buf, static_cast<size_t>(n));
  }
  return got;
}

TEST(CommandLine, EachTextLooksAtItsOwnStream) {
  int master = -1, slave = -1;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  UniqueFd master_fd(master), slave_fd(slave);
  UniqueFd file = memory_file();
  Environment env;
  env.vars = {"TERM=xterm-256color"};

  // Help to the terminal: coloured.
  env.args = {"diagpack-jce", "-h"};
  EXPECT_EQ(parse_command_line(env, Console{slave_fd.get(), file.get()}), 0);
  EXPECT_NE(drain(master_fd.get()).find("\x1b[1m\x1b[4mUsage:"),
            std::string::npos);

  // The error goes to a file while standard output is the terminal: plain.
  env.args = {"diagpack-jce", "--hel"};
  EXPECT_EQ(parse_command_line(env, Console{slave_fd.get(), file.get()}), 2);
  EXPECT_EQ(contents(file), unexpected_with_tip("--hel"));
  EXPECT_EQ(drain(master_fd.get()), "");

  // A dumb terminal gets no colour.
  env.vars = {"TERM=dumb"};
  env.args = {"diagpack-jce", "-h"};
  EXPECT_EQ(parse_command_line(env, Console{slave_fd.get(), file.get()}), 0);
  EXPECT_EQ(drain(master_fd.get()).find('\x1b'), std::string::npos);
}

}  // namespace
}  // namespace diagpack
