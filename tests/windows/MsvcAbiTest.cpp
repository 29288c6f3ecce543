// The module DLL as the real host, a program built with Microsoft's compiler, meets it: the host
// calls a source through fixed vtable slots with Microsoft's conventions, not through this
// compiler's idea of ImageSource, and the module reaches the host only through the globals and
// functions that HostApi.dll exports. Built for the MSVC-ABI build only: a module in another C++
// ABI fails these by design.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <mutex>
#include <set>
#include <string>

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

// The vtable of ImageSource as Microsoft's compiler lays it out: the virtual destructor takes one
// slot (the deleting destructor, which frees the object when bit 0 of its flags is set), then
// the functions in the order they are declared.
enum Slot : size_t { kDeletingDestructor = 0, kDraw = 3, kQuerySize = 4, kApplySettings = 5 };

// Vect2 has a constructor of its own, so Microsoft's compiler returns it from a member function
// through a pointer to the caller's space, passed after `this`, and returns that pointer.
struct PlainVect2 {
    float x, y;
};
using DeletingDestructorFn = void*(HOST_MEMBER*)(void* self, unsigned flags);
using QuerySizeFn = PlainVect2*(HOST_MEMBER*)(const void* self, PlainVect2* result);
using VoidMemberFn = void(HOST_MEMBER*)(void* self);
// References are passed as pointers.
using DrawFn = void(HOST_MEMBER*)(void* self, const PlainVect2* pos, const PlainVect2* size);

template <typename Function>
Function SlotOf(const void* object, Slot slot) {
    void* const* vtable = *static_cast<void* const* const*>(object);
    return reinterpret_cast<Function>(vtable[slot]);
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

// Forwards to the stand-in's graphics and counts the sprites the module draws.
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
        ++sprites;
        inner_->DrawSprite(texture, color, x, y, x2, y2);
    }
    Texture* CreateTexture(unsigned width, unsigned height, int format, const void* pixels,
                           bool buildMipMaps, bool isStatic) override {
        return inner_->CreateTexture(width, height, format, pixels, buildMipMaps, isStatic);
    }
    Texture* CreateTextureFromFile(const wchar_t* path, bool buildMipMaps) override {
        return inner_->CreateTextureFromFile(path, buildMipMaps);
    }
    int sprites = 0;

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
    data->SetString(L"path", std::wstring(png.begin(), png.end()).c_str());
    SlotOf<VoidMemberFn>(source, kApplySettings)(source);
    PlainVect2 size = {-1.0f, -1.0f};
    PlainVect2* returned = SlotOf<QuerySizeFn>(source, kQuerySize)(source, &size);
    EXPECT_EQ(returned, &size);
    EXPECT_EQ(size.x, 20.0f);
    EXPECT_EQ(size.y, 10.0f);

    const PlainVect2 origin = {0.0f, 0.0f};
    SlotOf<DrawFn>(source, kDraw)(source, &origin, &size);
    EXPECT_GE(graphics->sprites, 1);  // through the exported GS

    SlotOf<DeletingDestructorFn>(source, kDeletingDestructor)(source, 1);
    EXPECT_TRUE(allocator->WasFreed(source));
    EXPECT_EQ(standin::AllocatorStats().liveBlocks, before.liveBlocks);
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
        SlotOf<VoidMemberFn>(source, kApplySettings)(source);
    SlotOf<DeletingDestructorFn>(source, kDeletingDestructor)(source, 1);
    EXPECT_EQ(standin::AllocatorStats().liveBlocks, before.liveBlocks);
    module.FindAs<void (*)()>("UnloadPlugin")();
    DeleteFileA(png.c_str());
}

}  // namespace
