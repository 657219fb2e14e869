// analyzer-sim [--password-from FILE] [--add-devices FILE]... [--real-time] -- PROGRAM [ARGS...]
// Plugs one simulated analyzer in update mode into a umockdev USB bus and runs PROGRAM in
// that mock environment, so the program's own udev and hidapi code finds and updates the
// simulated boot loader. Other devices (recorded with umockdev-record) can be put on the
// same bus beside it. With --real-time the device takes its datasheet times for real, as an
// update of a real analyzer does. Exits with PROGRAM's status. Run it under umockdev-wrapper.

#include "UsbTestbed.h"

#include <bsl430/TiTxt.h>

#include <umockdev.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr int kUsageError = 2;
constexpr std::uint32_t kPasswordAddress = 0xFFE0;
constexpr std::size_t kPasswordSize = 32;

volatile sig_atomic_t gChild = 0;  // the program run, for passing termination requests on

void passOn(int ASignal) {
    if (gChild > 0) ::kill(static_cast<pid_t>(gChild), ASignal);
}

constexpr const char* kUsage =
    "usage: umockdev-wrapper analyzer-sim [--password-from FILE] [--add-devices FILE]...\n"
    "                                     [--real-time] -- PROGRAM [ARGS...]\n"
    "  --password-from FILE  TI-TXT file with the 32-byte password at 0xFFE0\n"
    "                        (default: erased flash, so the password is 32 x 0xFF)\n"
    "  --add-devices FILE    also puts the devices of a umockdev description file (as\n"
    "                        umockdev-record writes it) on the bus; may be repeated\n"
    "  --real-time           the device takes its datasheet times for real (a USB frame\n"
    "                        per report, erasing, programming, its time off the bus when\n"
    "                        the RAM BSL starts); by default it answers at once\n";

int usage(const std::string& AProblem) {
    std::cerr << "analyzer-sim: " << AProblem << "\n" << kUsage;
    return kUsageError;
}

struct Arguments {
    bool help = false;
    std::optional<std::string> passwordFile;
    std::vector<std::string> deviceFiles;
    bool realTime = false;
    std::vector<std::string> command;
};

std::optional<Arguments> parse(int argc, char** argv, std::string& AProblem) {
    Arguments args;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--") {
            ++i;
            break;
        }
        if (a == "--help") {
            args.help = true;
            return args;
        }
        if (a == "--password-from") {
            if (i + 1 >= argc) {
                AProblem = "--password-from needs a file";
                return std::nullopt;
            }
            args.passwordFile = argv[++i];
        } else if (a == "--add-devices") {
            if (i + 1 >= argc) {
                AProblem = "--add-devices needs a file";
                return std::nullopt;
            }
            args.deviceFiles.emplace_back(argv[++i]);
        } else if (a == "--real-time") {
            args.realTime = true;
        } else if (a.empty() || a[0] != '-') {
            AProblem = "put -- before the program to run (" + a + ")";
            return std::nullopt;
        } else {
            AProblem = "unknown option " + a;
            return std::nullopt;
        }
    }
    for (; i < argc; ++i) args.command.emplace_back(argv[i]);
    if (args.command.empty()) {
        AProblem = "no program to run";
        return std::nullopt;
    }
    return args;
}

// The password block of a TI-TXT file, or nothing (with the reason) when the file holds
// anything else: a wrong password would mass-erase the device.
std::optional<std::vector<std::uint8_t>> readPassword(const std::string& APath,
                                                      std::string& AProblem) {
    const bsl430::ParseResult r = bsl430::readTiTxtFile(APath);
    if (!r.ok) {
        AProblem = APath + ": " + r.error;
        return std::nullopt;
    }
    const auto& sections = r.image.sections;
    if (sections.size() != 1 || sections[0].address != kPasswordAddress ||
        sections[0].bytes.size() != kPasswordSize) {
        AProblem = APath + ": not a password file (32 bytes at 0xFFE0)";
        return std::nullopt;
    }
    return sections[0].bytes;
}

// Spawn attributes that put the keyboard signals back to their defaults in the program.
class SpawnAttributes {
public:
    SpawnAttributes() {
        ::posix_spawnattr_init(&FAttr);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGINT);
        sigaddset(&defaults, SIGQUIT);
        ::posix_spawnattr_setsigdefault(&FAttr, &defaults);
        ::posix_spawnattr_setflags(&FAttr, POSIX_SPAWN_SETSIGDEF);
    }
    ~SpawnAttributes() { ::posix_spawnattr_destroy(&FAttr); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    const posix_spawnattr_t* get() const { return &FAttr; }

private:
    posix_spawnattr_t FAttr;
};

int statusOf(int AWaitStatus) {
    if (WIFEXITED(AWaitStatus)) return WEXITSTATUS(AWaitStatus);
    if (WIFSIGNALED(AWaitStatus)) return 128 + WTERMSIG(AWaitStatus);
    return 1;
}

int run(const std::vector<std::string>& ACommand) {
    std::vector<char*> argv;
    for (const auto& a : ACommand) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    // Keyboard interrupts reach the program from the terminal itself; termination requests
    // sent to this process are passed on. Either way the bus is taken down after the program.
    struct sigaction ignore {}, pass {};
    ignore.sa_handler = SIG_IGN;
    pass.sa_handler = passOn;
    for (int s : {SIGINT, SIGQUIT}) ::sigaction(s, &ignore, nullptr);
    for (int s : {SIGTERM, SIGHUP}) ::sigaction(s, &pass, nullptr);
    const SpawnAttributes attributes;

    pid_t pid = 0;
    const int error = ::posix_spawnp(&pid, argv[0], nullptr, attributes.get(), argv.data(), environ);
    if (error != 0) {
        std::cerr << "analyzer-sim: cannot run " << ACommand[0] << ": " << std::strerror(error) << "\n";
        return 127;
    }
    gChild = pid;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            std::cerr << "analyzer-sim: " << std::strerror(errno) << "\n";
            return 1;
        }
    }
    gChild = 0;
    return statusOf(status);
}

}  // namespace

int main(int argc, char** argv) {
    std::string problem;
    const auto args = parse(argc, argv, problem);
    if (!args) return usage(problem);
    if (args->help) {
        std::cout << kUsage;
        return 0;
    }
    std::vector<std::uint8_t> password;
    if (args->passwordFile) {
        const auto p = readPassword(*args->passwordFile, problem);
        if (!p) {
            std::cerr << "analyzer-sim: " << problem << "\n";
            return kUsageError;
        }
        password = *p;
    }
    try {
        // The bus before anything asks whether this is a mock environment (umockdev caches it).
        sim::usb::UsbTestbed bus;
        if (!umockdev_in_mock_environment()) {
            std::cerr << "analyzer-sim: not in a mock environment; run it under umockdev-wrapper\n";
            return kUsageError;
        }
        auto analyzer = sim::Analyzer::create(
            sim::Options{args->realTime ? sim::Timing::RealTime : sim::Timing::Instant, {}});
        if (!password.empty()) analyzer->load(kPasswordAddress, password);
        bus.plug(analyzer);
        for (const auto& file : args->deviceFiles) bus.addDevices(file);
        return run(args->command);
    } catch (const std::exception& e) {
        std::cerr << "analyzer-sim: " << e.what() << "\n";
        return 1;
    }
}
