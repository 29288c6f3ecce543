// The module DLL as the real host, a program built with Microsoft's compiler, meets it: the host
// calls a source through fixed vtable slots with Microsoft's conventions, not through this
// compiler's idea of ImageSource, and the module reaches the host only through the globals and
// functions that HostApi.dll exports. Built for the MSVC-ABI build only: a module in another C++
// ABI fails these by design.
#include <gtest/gtest.h>
#include <intrin.h>
#include <windows.h>

#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "controller/ConsoleProtocol.h"
#include "host/Host.h"
#include "standin/Standin.h"
#include "support/ModuleLoader.h"
#include "support/SourceTree.h"

namespace {

// Member functions on 32-bit x86 take `this` in ECX; on x64 there is one convention for all.
#if defined(_M_IX86)
#define HOST_MEMBER __thiscall
#else
#define HOST_MEMBER
#endif

// The vtable of ImageSource as the host's compiler lays it out, every slot the host may call, each
// with the signature the host calls it with. Written from the host's list of slots, not taken from
// host/ImageSource.h: a declaration there that moves a slot or changes its parameters fails here.
// The virtual destructor takes one slot (the deleting destructor, which frees the object when bit
// 0 of its flags is set); the functions follow in the order they are declared.
enum Slot : size_t {
    kDeletingDestructor,
    kPreprocess,
    kAdvance,
    kDraw,
    kQuerySize,
    kApplySettings,
    kSceneBegin,
    kSceneEnd,
    kGlobalSourceLeaveScene,
    kGlobalSourceEnterScene,
    kSetFloat,
    kSetInt,
    kSetString,
    kSetVector,
    kSetVector2,
    kSetVector4,
    kSetMatrix,
    kGetFloat,
    kGetInt,
    kGetString,
    kGetVector,
    kGetVector2,
    kGetVector4,
    kGetMatrix,
};

// The host's vector types, as plain data. Vect2 has a constructor of its own, so Microsoft's
// compiler returns it from a member function through a pointer to the caller's space, passed
// after `this`, and returns that pointer.
struct PlainVect2 {
    float x, y;
};
struct PlainVect {
    float x, y, z;
};
struct PlainVect4 {
    float x, y, z, w;
};
struct PlainMatrix {
    PlainVect4 rows[4];
};
using DeletingDestructorFn = void*(HOST_MEMBER*)(void* self, unsigned flags);
using VoidMemberFn = void(HOST_MEMBER*)(void* self);
using AdvanceFn = void(HOST_MEMBER*)(void* self, float seconds);
// References are passed as pointers.
using DrawFn = void(HOST_MEMBER*)(void* self, const PlainVect2* pos, const PlainVect2* size);
using QuerySizeFn = PlainVect2*(HOST_MEMBER*)(const void* self, PlainVect2* result);
template <typename Value>
using SetByValueFn = void(HOST_MEMBER*)(void* self, const wchar_t* name, Value value);
template <typename Value>
using SetByReferenceFn = void(HOST_MEMBER*)(void* self, const wchar_t* name, const Value* value);
template <typename Value>
using GetFn = bool(HOST_MEMBER*)(const void* self, const wchar_t* name, Value* value);

template <typename Function>
Function SlotOf(const void* object, Slot slot) {
    void* const* vtable = *static_cast<void* const* const*>(object);
    return reinterpret_cast<Function>(vtable[slot]);
}

// Where the stack pointer stands for a call made now. On x86 a member function pops its own
// arguments (__thiscall): a slot that takes other arguments than the host pushes (a value where
// the host passes a reference) moves the stack pointer, which shows here.
// The store keeps the compiler from taking two marks around a call for one.
volatile uintptr_t lastStackMark;
__declspec(noinline) uintptr_t StackMark() {
    lastStackMark = reinterpret_cast<uintptr_t>(_AddressOfReturnAddress());
    return lastStackMark;
}

// Calls the slot as the host does and checks that the stack is where it was.
template <typename Function, typename... Args>
auto CallSlot(void* object, Slot slot, Args... args) {
    Function function = SlotOf<Function>(object, slot);
    const uintptr_t before = StackMark();
    if constexpr (std::is_void_v<decltype(function(object, args...))>) {
        function(object, args...);
        EXPECT_EQ(StackMark(), before) << "slot " << slot << " left the stack moved";
    } else {
        auto result = function(object, args...);
        EXPECT_EQ(StackMark(), before) << "slot " << slot << " left the stack moved";
        return result;
    }
}

// Forwards to the stand-in's allocator and keeps what was freed, so that a test can see which
// allocator the module's memory went back to.
class RecordingAlloc : public Alloc {
public:
    explicit RecordingAlloc(Alloc* inner) : inner_(inner) {}
    void* Allocate(size_t size) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++allocations_;
        return inner_->Allocate(size);
    }
    void* ReAllocate(void* block, size_t size) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++allocations_;
        return inner_->ReAllocate(block, size);
    }
    void Free(void* block) override {
        std::lock_guard<std::mutex> lock(mutex_);
        freed_.insert(block);
        inner_->Free(block);
    }
    bool WasFreed(void* block) {
        std::lock_guard<std::mutex> lock(mutex_);
        return freed_.count(block) != 0;
    }
    uint64_t Allocations() {
        std::lock_guard<std::mutex> lock(mutex_);
        return allocations_;
    }

private:
    Alloc* inner_;
    std::mutex mutex_;
    std::set<void*> freed_;
    uint64_t allocations_ = 0;
};

// Forwards to the stand-in's interface and counts the module's registrations.
class RecordingApi : public APIInterface {
public:
    explicit RecordingApi(APIInterface* inner) : inner_(inner) {}
    bool RegisterSourceClass(const wchar_t* className, const wchar_t* displayName,
                             CreateSourceProc create, ConfigureSourceProc configure) override {
        ++registrations;
        return inner_->RegisterSourceClass(className, displayName, create, configure);
    }
    Scene* CurrentScene() override { return inner_->CurrentScene(); }
    void GetCanvasSize(uint32_t& width, uint32_t& height) override {
        inner_->GetCanvasSize(width, height);
    }
    bool IsOutputActive() override { return inner_->IsOutputActive(); }
    int registrations = 0;

private:
    APIInterface* inner_;
};

// Forwards to the stand-in's graphics and keeps the sprites the module draws.
class RecordingGraphics : public GraphicsSystem {
public:
    explicit RecordingGraphics(GraphicsSystem* inner) : inner_(inner) {}
    Shader* CreatePixelShaderFromFile(const wchar_t* path) override {
        return inner_->CreatePixelShaderFromFile(path);
    }
    Shader* CurrentPixelShader() override { return inner_->CurrentPixelShader(); }
    void BindPixelShader(Shader* shader) override { inner_->BindPixelShader(shader); }
    void DrawSprite(Texture* texture, uint32_t color, float x, float y, float x2,
                    float y2) override {
        sprites.push_back({color, x, y, x2, y2});
        inner_->DrawSprite(texture, color, x, y, x2, y2);
    }
    Texture* CreateTexture(unsigned width, unsigned height, int format, const void* pixels,
                           bool buildMipMaps, bool isStatic) override {
        return inner_->CreateTexture(width, height, format, pixels, buildMipMaps, isStatic);
    }
    Texture* CreateTextureFromFile(const wchar_t* path, bool buildMipMaps) override {
        return inner_->CreateTextureFromFile(path, buildMipMaps);
    }
    struct Sprite {
        uint32_t color;
        float x, y, x2, y2;
    };
    std::vector<Sprite> sprites;

private:
    GraphicsSystem* inner_;
};

// The host's globals pointed at the recorders for one test, and back afterwards.
class MsvcAbi : public ::testing::Test {
protected:
    void SetUp() override {
        allocator = new RecordingAlloc(MainAllocator);
        api = new RecordingApi(API);
        graphics = new RecordingGraphics(GS);
        savedAllocator = MainAllocator;
        savedApi = API;
        savedGraphics = GS;
        MainAllocator = allocator;
        API = api;
        GS = graphics;
    }
    void TearDown() override {
        MainAllocator = savedAllocator;
        API = savedApi;
        GS = savedGraphics;
        // Leaked on purpose: a worker of the module may still hold the allocator for a moment.
    }

    // Loads the module and returns its class's create callback, or null.
    CreateSourceProc LoadModule(testsupport::ModuleLoader& module) {
        auto load = module.FindAs<bool (*)()>("LoadPlugin");
        if (!load || !load() || standin::SourceClasses().size() != 1)
            return nullptr;
        return standin::SourceClasses()[0].create;
    }

    RecordingAlloc* allocator = nullptr;
    RecordingApi* api = nullptr;
    RecordingGraphics* graphics = nullptr;
    Alloc* savedAllocator = nullptr;
    APIInterface* savedApi = nullptr;
    GraphicsSystem* savedGraphics = nullptr;
};

// A window with the console's title in this process: the module finds it as it finds the console
// and sends it its messages, which are kept here (sent from this thread, they arrive at once).
class FakeConsole {
public:
    struct Message {
        UINT code;
        WPARAM wParam;
        LPARAM lParam;
    };

    FakeConsole() {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = Receive;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"VantrelMsvcAbiConsole";
        RegisterClassW(&windowClass);  // fails harmlessly when an earlier test registered it
        window_ = CreateWindowW(windowClass.lpszClassName, vantrel::kConsoleTitle, WS_OVERLAPPED, 0,
                                0, 64, 64, nullptr, nullptr, windowClass.hInstance, nullptr);
        Messages().clear();
    }
    ~FakeConsole() { DestroyWindow(window_); }
    FakeConsole(const FakeConsole&) = delete;
    FakeConsole& operator=(const FakeConsole&) = delete;

    bool Open() const { return window_ != nullptr; }
    static std::vector<Message>& Messages() {
        static std::vector<Message> messages;
        return messages;
    }

private:
    static LRESULT CALLBACK Receive(HWND window, UINT code, WPARAM wParam, LPARAM lParam) {
        if (code >= WM_USER) {
            Messages().push_back({code, wParam, lParam});
            return 0;
        }
        return DefWindowProcW(window, code, wParam, lParam);
    }

    HWND window_ = nullptr;
};

std::vector<std::wstring> LogTexts() {
    std::vector<std::wstring> texts;
    for (const auto& record : standin::LogRecords())
        texts.push_back(record.text);
    return texts;
}

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

TEST_F(MsvcAbi, HostCallsReachTheOverridesAndTheDestructorFreesIntoTheHostAllocator) {
    testsupport::ModuleLoader module(testsupport::ModuleFileName());
    ASSERT_TRUE(module.Loaded()) << module.Error();
    CreateSourceProc create = LoadModule(module);
    ASSERT_NE(create, nullptr);
    EXPECT_EQ(api->registrations, 1);  // through the exported API

    testsupport::SourceTree tree;
    XElement* data = tree.AddSource(L"fx");
    tree.container->SetString(L"sceneGuid", L"scene");
    std::string png = testsupport::ProgramFolder() + "msvc-abi-20x10.png";
    testsupport::WriteSolidPng(png, 20, 10, 0x336699FFu);

    const auto before = standin::AllocatorStats();
    const uint64_t allocationsBefore = allocator->Allocations();
    void* source = create(data);
    ASSERT_NE(source, nullptr);
    EXPECT_GT(allocator->Allocations(), allocationsBefore);  // through the exported MainAllocator

    // Width and height differ, so that a result read from the wrong register or in the wrong
    // order shows; the size changes only if ApplySettings reached the module.
    data->SetString(L"path", Wide(png).c_str());
    data->SetInt(L"useColorKey", 1);
    data->SetInt(L"opacity", 40);
    data->SetInt(L"color", 0x336699);
    CallSlot<VoidMemberFn>(source, kApplySettings);
    PlainVect2 size = {-1.0f, -1.0f};
    PlainVect2* returned = CallSlot<QuerySizeFn>(source, kQuerySize, &size);
    EXPECT_EQ(returned, &size);
    EXPECT_EQ(size.x, 20.0f);
    EXPECT_EQ(size.y, 10.0f);

    // The sprite spans the position and the size the host passes by reference; its alpha is the
    // opacity (40 % of 255, truncated: 0x66) over the colour. Every value differs from the others,
    // so that a swapped or misread parameter shows.
    const PlainVect2 position = {12.5f, 30.0f};
    const PlainVect2 drawSize = {24.0f, 7.5f};
    CallSlot<DrawFn>(source, kDraw, &position, &drawSize);  // through the exported GS
    ASSERT_EQ(graphics->sprites.size(), 1u);
    EXPECT_EQ(graphics->sprites[0].color, 0x66336699u);
    EXPECT_EQ(graphics->sprites[0].x, 12.5f);
    EXPECT_EQ(graphics->sprites[0].y, 30.0f);
    EXPECT_EQ(graphics->sprites[0].x2, 36.5f);
    EXPECT_EQ(graphics->sprites[0].y2, 37.5f);

    CallSlot<DeletingDestructorFn>(source, kDeletingDestructor, 1u);
    EXPECT_TRUE(allocator->WasFreed(source));
    EXPECT_EQ(standin::AllocatorStats().liveBlocks, before.liveBlocks);
    module.FindAs<void (*)()>("UnloadPlugin")();
    DeleteFileA(png.c_str());
}

TEST_F(MsvcAbi, AdvanceAndTheSceneHooksReachTheConsole) {
    testsupport::ModuleLoader module(testsupport::ModuleFileName());
    ASSERT_TRUE(module.Loaded()) << module.Error();
    CreateSourceProc create = LoadModule(module);
    ASSERT_NE(create, nullptr);
    FakeConsole console;
    ASSERT_TRUE(console.Open());
    // The handshake block as the console makes it, large enough for the module's view.
    HANDLE block = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      vantrel::kHandshakeViewSize, vantrel::kHandshakeBlockName);
    ASSERT_NE(block, nullptr);
    auto* handshake = static_cast<const wchar_t*>(MapViewOfFile(block, FILE_MAP_READ, 0, 0, 0));
    ASSERT_NE(handshake, nullptr);

    testsupport::SourceTree tree;
    XElement* data = tree.AddSource(L"fx");
    tree.container->SetString(L"sceneGuid", L"scene");
    void* source = create(data);
    ASSERT_NE(source, nullptr);
    standin::SetOutputActive(true);
    auto& messages = FakeConsole::Messages();

    // SceneBegin makes the source's identifier and hands it to the console.
    CallSlot<VoidMemberFn>(source, kSceneBegin);
    const std::wstring guid = data->GetString(L"guid", L"");
    EXPECT_EQ(guid.size(), 38u);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].code, vantrel::kHandshakeMessage);
    EXPECT_EQ(std::wstring(handshake), std::to_wstring(GetCurrentProcessId()) + L"|scene|" + guid);

    // Advance gathers the seconds it is given: 1.5 s, then 0.75 s more pass the 2 s after which
    // the source tells the console that the output runs. A value misread on the way (another
    // register, another type) reports at once or never.
    messages.clear();
    CallSlot<AdvanceFn>(source, kAdvance, 1.5f);
    EXPECT_TRUE(messages.empty());
    CallSlot<AdvanceFn>(source, kAdvance, 0.75f);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].code, vantrel::kLiveStateMessage);
    EXPECT_EQ(messages[0].lParam, 1);
    EXPECT_EQ(LogTexts().back(), L"isHostPlay: 1");

    // SceneEnd tells the console that the host is no longer live.
    messages.clear();
    CallSlot<VoidMemberFn>(source, kSceneEnd);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].code, vantrel::kLiveStateMessage);
    EXPECT_EQ(messages[0].lParam, 0);
    EXPECT_EQ(LogTexts().back(), L"isHostPlay: 0");

    CallSlot<DeletingDestructorFn>(source, kDeletingDestructor, 1u);
    module.FindAs<void (*)()>("UnloadPlugin")();
    UnmapViewOfFile(handshake);
    CloseHandle(block);
}

// The slots the source leaves to ImageSource: each does nothing, and a getter says it has no value
// and leaves the caller's untouched.
TEST_F(MsvcAbi, TheBaseClassSlotsDoNothing) {
    testsupport::ModuleLoader module(testsupport::ModuleFileName());
    ASSERT_TRUE(module.Loaded()) << module.Error();
    CreateSourceProc create = LoadModule(module);
    ASSERT_NE(create, nullptr);
    FakeConsole console;
    ASSERT_TRUE(console.Open());

    testsupport::SourceTree tree;
    XElement* data = tree.AddSource(L"fx");
    tree.container->SetString(L"sceneGuid", L"scene");
    std::string png = testsupport::ProgramFolder() + "msvc-abi-defaults.png";
    testsupport::WriteSolidPng(png, 20, 10, 0x336699FFu);
    data->SetString(L"path", Wide(png).c_str());
    void* source = create(data);
    ASSERT_NE(source, nullptr);

    standin::ClearLog();
    const uint64_t allocations = allocator->Allocations();
    const auto keys = standin::KeyNames(data);
    const PlainVect vect = {1, 2, 3};
    const PlainVect2 vect2 = {4, 5};
    const PlainVect4 vect4 = {6, 7, 8, 9};
    const PlainMatrix matrix = {};
    CallSlot<VoidMemberFn>(source, kPreprocess);
    CallSlot<VoidMemberFn>(source, kGlobalSourceLeaveScene);
    CallSlot<VoidMemberFn>(source, kGlobalSourceEnterScene);
    CallSlot<SetByValueFn<float>>(source, kSetFloat, L"opacity", 0.5f);
    CallSlot<SetByValueFn<int>>(source, kSetInt, L"opacity", 5);
    CallSlot<SetByValueFn<const wchar_t*>>(source, kSetString, L"path", L"other.png");
    CallSlot<SetByReferenceFn<PlainVect>>(source, kSetVector, L"v", &vect);
    CallSlot<SetByReferenceFn<PlainVect2>>(source, kSetVector2, L"v", &vect2);
    CallSlot<SetByReferenceFn<PlainVect4>>(source, kSetVector4, L"v", &vect4);
    CallSlot<SetByReferenceFn<PlainMatrix>>(source, kSetMatrix, L"m", &matrix);

    float f = 1.25f;
    int i = 77;
    const wchar_t* text = L"kept";
    PlainVect v = vect;
    PlainVect2 v2 = vect2;
    PlainVect4 v4 = vect4;
    PlainMatrix m = {};
    m.rows[3].w = 42.0f;
    // The result is read from the low byte, as a bool is returned; a slot that returns nothing
    // leaves whatever the register held.
    EXPECT_FALSE(CallSlot<GetFn<float>>(source, kGetFloat, L"opacity", &f));
    EXPECT_FALSE(CallSlot<GetFn<int>>(source, kGetInt, L"opacity", &i));
    EXPECT_FALSE(CallSlot<GetFn<const wchar_t*>>(source, kGetString, L"path", &text));
    EXPECT_FALSE(CallSlot<GetFn<PlainVect>>(source, kGetVector, L"v", &v));
    EXPECT_FALSE(CallSlot<GetFn<PlainVect2>>(source, kGetVector2, L"v", &v2));
    EXPECT_FALSE(CallSlot<GetFn<PlainVect4>>(source, kGetVector4, L"v", &v4));
    EXPECT_FALSE(CallSlot<GetFn<PlainMatrix>>(source, kGetMatrix, L"m", &m));
    EXPECT_EQ(f, 1.25f);
    EXPECT_EQ(i, 77);
    EXPECT_EQ(std::wstring(text), L"kept");
    EXPECT_EQ(v.z, 3.0f);
    EXPECT_EQ(v2.y, 5.0f);
    EXPECT_EQ(v4.w, 9.0f);
    EXPECT_EQ(m.rows[3].w, 42.0f);

    // Nothing reached the host, the console or the settings, and the source is as it was.
    EXPECT_TRUE(standin::LogRecords().empty());
    EXPECT_TRUE(graphics->sprites.empty());
    EXPECT_TRUE(FakeConsole::Messages().empty());
    EXPECT_EQ(allocator->Allocations(), allocations);
    EXPECT_EQ(standin::KeyNames(data), keys);
    EXPECT_EQ(std::wstring(data->GetString(L"path", L"")), Wide(png));
    PlainVect2 size = {};
    CallSlot<QuerySizeFn>(source, kQuerySize, &size);
    EXPECT_EQ(size.x, 20.0f);
    EXPECT_EQ(size.y, 10.0f);

    CallSlot<DeletingDestructorFn>(source, kDeletingDestructor, 1u);
    module.FindAs<void (*)()>("UnloadPlugin")();
    DeleteFileA(png.c_str());
}

TEST_F(MsvcAbi, StringPassedByValueToTheHostIsDestroyedOnce) {
    testsupport::ModuleLoader module(testsupport::ModuleFileName());
    ASSERT_TRUE(module.Loaded()) << module.Error();
    CreateSourceProc create = LoadModule(module);
    ASSERT_NE(create, nullptr);

    testsupport::SourceTree tree;
    XElement* data = tree.AddSource(L"fx");
    tree.container->SetString(L"sceneGuid", L"scene");
    std::string png = testsupport::ProgramFolder() + "msvc-abi-watched.png";
    testsupport::WriteSolidPng(png, 4, 4, 0xFFFFFFFFu);
    data->SetString(L"path", std::wstring(png.begin(), png.end()).c_str());
    // Watching the file makes the module hand its path to OSMonitorFileStart as a String by
    // value: the host destroys that copy. A second destruction by the module is a double free,
    // which the stand-in's allocator reports as fatal; none leaves the buffer live.
    data->SetInt(L"monitor", 1);

    const auto before = standin::AllocatorStats();
    auto* source = static_cast<ImageSource*>(create(data));
    ASSERT_NE(source, nullptr);
    for (int i = 0; i < 3; ++i)
        CallSlot<VoidMemberFn>(source, kApplySettings);
    CallSlot<DeletingDestructorFn>(source, kDeletingDestructor, 1u);
    EXPECT_EQ(standin::AllocatorStats().liveBlocks, before.liveBlocks);
    module.FindAs<void (*)()>("UnloadPlugin")();
    DeleteFileA(png.c_str());
}

}  // namespace
