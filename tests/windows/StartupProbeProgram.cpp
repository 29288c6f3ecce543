// A program on the start-up library, started by StartupTest:
//   startupprobe smash N    copies N bytes into a 16-byte buffer on the stack (more than 16
//                           overwrite the stack check's cookie)
//   startupprobe exit       a static, a main-thread thread_local and nine local ones, each
//                           with a destructor; prints a line as each is constructed and
//                           destroyed
// Lines go straight to the standard output handle, unbuffered, so that those written while the
// process ends are not lost.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

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
    explicit Announced(std::string name) : name_(std::move(name)) {
        Say((name_ + " constructed").c_str());
    }
    ~Announced() { Say((name_ + " destroyed").c_str()); }
    std::string name_;
};

Announced staticObject("static");
thread_local Announced threadLocal("thread_local");

// Local thread_locals, each constructed on first use: with the one above, more destructors than
// the start-up library keeps without allocating.
template <int N>
void UseLocal() {
    static thread_local Announced local("local " + std::to_string(N));
}

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
        UseLocal<1>(), UseLocal<2>(), UseLocal<3>(), UseLocal<4>(), UseLocal<5>();
        UseLocal<6>(), UseLocal<7>(), UseLocal<8>(), UseLocal<9>();
        return 0;
    }
    return 2;
}
