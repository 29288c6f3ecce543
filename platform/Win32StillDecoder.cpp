// Still pictures on Windows: the Windows Imaging Component, a part of the system (and of Wine) that
// is safe to use from any thread of the multithreaded apartment. Its factory is made by its class
// id through COM, so that the module imports nothing more than ole32.

// clang-format off
#include <windows.h>  // first: the other system headers rely on it
#include <objbase.h>
#include <wincodec.h>
// clang-format on

#include <new>

#include "platform/StillDecoder.h"

namespace platform {

namespace {

// The values of the system's own identifiers, given here so that no import library of the
// imaging component is linked.
const CLSID kImagingFactory = {
    0xcacaf262, 0x9370, 0x4615, {0xa1, 0x3b, 0x9f, 0x55, 0x39, 0xda, 0x4c, 0x0a}};
const IID kImagingFactoryInterface = {
    0xec5ec8a9, 0xc395, 0x4314, {0x9c, 0x77, 0x54, 0xd7, 0xa9, 0x35, 0xff, 0x70}};
const GUID kFormat32bppBGRA = {
    0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x0f}};
constexpr HRESULT kComponentNotFound = static_cast<HRESULT>(0x88982F50);

template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() {
        if (p_)
            p_->Release();
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    T** Out() { return &p_; }
    T* operator->() const { return p_; }
    T* Get() const { return p_; }

private:
    T* p_ = nullptr;
};

// COM for the calling thread, for as long as the decode takes: a thread of ours joins the
// multithreaded apartment; one already in an apartment stays in it.
class ComScope {
public:
    ComScope() : result_(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(result_))
            ::CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    bool Usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

private:
    HRESULT result_;
};

StillDecode Decode(const uint8_t* bytes, size_t size, uint64_t maxBytes, std::vector<uint8_t>& rgba,
                   uint32_t& width, uint32_t& height) {
    ComPtr<IWICImagingFactory> factory;
    if (FAILED(::CoCreateInstance(kImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                  kImagingFactoryInterface,
                                  reinterpret_cast<void**>(factory.Out()))))
        return StillDecode::Unknown;  // no imaging component: the host's loader takes it
    ComPtr<IWICStream> stream;
    if (FAILED(factory->CreateStream(stream.Out())) ||
        FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(bytes), static_cast<DWORD>(size))))
        return StillDecode::NoMemory;
    ComPtr<IWICBitmapDecoder> decoder;
    const HRESULT found = factory->CreateDecoderFromStream(
        stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand, decoder.Out());
    if (found == kComponentNotFound)
        return StillDecode::Unknown;
    if (FAILED(found))
        return StillDecode::Failed;
    ComPtr<IWICBitmapFrameDecode> frame;
    UINT w = 0, h = 0;
    if (FAILED(decoder->GetFrame(0, frame.Out())) || FAILED(frame->GetSize(&w, &h)) || w == 0 ||
        h == 0)
        return StillDecode::Failed;
    const uint64_t pixelBytes = static_cast<uint64_t>(w) * h * 4u;
    if (pixelBytes > maxBytes || pixelBytes > UINT32_MAX)
        return StillDecode::TooLarge;
    ComPtr<IWICFormatConverter> converter;
    if (FAILED(factory->CreateFormatConverter(converter.Out())) ||
        FAILED(converter->Initialize(frame.Get(), kFormat32bppBGRA, WICBitmapDitherTypeNone,
                                     nullptr, 0.0, WICBitmapPaletteTypeCustom)))
        return StillDecode::Failed;
    try {
        rgba.resize(static_cast<size_t>(pixelBytes));
    } catch (const std::bad_alloc&) {
        return StillDecode::NoMemory;
    }
    if (FAILED(converter->CopyPixels(nullptr, w * 4u, static_cast<UINT>(pixelBytes), rgba.data())))
        return StillDecode::Failed;
    // B, G, R, A to R, G, B, A.
    for (size_t at = 0; at < rgba.size(); at += 4) {
        const uint8_t blue = rgba[at];
        rgba[at] = rgba[at + 2];
        rgba[at + 2] = blue;
    }
    width = w;
    height = h;
    return StillDecode::Done;
}

}  // namespace

StillDecode DecodeStill(const uint8_t* bytes, size_t size, uint64_t maxBytes,
                        std::vector<uint8_t>& rgba, uint32_t& width, uint32_t& height) {
    rgba.clear();
    width = height = 0;
    if (!IsStillFormat(bytes, size))
        return StillDecode::Unknown;
    if (size > UINT32_MAX)
        return StillDecode::Failed;
    ComScope com;
    if (!com.Usable())
        return StillDecode::Unknown;
    const StillDecode result = Decode(bytes, size, maxBytes, rgba, width, height);
    if (result != StillDecode::Done) {
        std::vector<uint8_t>().swap(rgba);
        width = height = 0;
    }
    return result;
}

}  // namespace platform
