// A program on the start-up library, started by StartupTest:
//   startupprobe smash N    copies N bytes into a 16-byte buffer on the stack (more than 16
//                           overwrite the stack check's cookie)
//   startupprobe exit       a static and a main-thread thread_local, each with a destructor;
//                           prints a line as each is constructed and destroyed
// Lines go straight to the standard output handle, unbuffered, so that those written while the
// process ends are not lost.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Say(const char* line) {
    std::string text = std::string(line) + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()),
              &written, nullptr);
}

__declspec(noinline) void CopyOnStack(const char* bytes, size_t count) {
    char buffer[16];
    std::memcpy(buffer, bytes, count);
    Say(buffer[0] == 'x' ? "copied" : "?");
}

struct Announced {
    explicit Announced(const char* name) : name_(name) { Say((name_ + " constructed").c_str()); }
    ~Announced() { Say((name_ + " destroyed").c_str()); }
    std::string name_;
};

Announced staticObject("static");
thread_local Announced threadLocal("thread_local");

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "smash") == 0) {
        const size_t count = std::strtoul(argv[2], nullptr, 10);
        static char bytes[256];
        std::memset(bytes, 'x', sizeof bytes);
        CopyOnStack(bytes, count < sizeof bytes ? count : sizeof bytes);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "exit") == 0) {
        Say(threadLocal.name_ == "thread_local" ? "main" : "main without its thread_local");
        return 0;
    }
    return 2;
}
