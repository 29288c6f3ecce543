// A host API library for scripts/check-host's tests. It exports what the module imports, as a
// host built with Microsoft's compiler would, and besides that the vftables and virtual members of
// Scene and ImageSource, so that the check can compare slot orders. Its functions are never
// called: each does something small of its own only so that the linker cannot fold two of them
// into one address, which would leave the slot order unreadable.
//
// Built once per variant; each variant differs from the module's declarations in host/ in one way:
//   FIXTURE_FITS              none
//   FIXTURE_PARAMETER_TYPE    XFile::Open takes its two numbers as unsigned long (a Win32 DWORD)
//   FIXTURE_PLAIN_MEMBERS     XElement's operations are plain exported members, not virtual slots
//   FIXTURE_SWAPPED_SLOTS     GraphicsSystem's CurrentPixelShader and BindPixelShader swap slots
//   FIXTURE_EXTRA_SLOT        ImageSource has one virtual function more, after SceneEnd
//   FIXTURE_MISSING_FUNCTION  OSFileHasChanged is not there
//   FIXTURE_SHORT_VFTABLE     Scene, which the module calls, has one virtual function fewer
//   FIXTURE_LONGER_TABLE      ImageSource has one virtual function more, after the last of ours
//   FIXTURE_PURE_AT_END       ... and a pure one, which nothing exports (its slot holds
//                             _purecall)
//   FIXTURE_MISSING_GLOBAL    GS is not there
//   FIXTURE_NEXT_TABLE        (with another) an exported class after ImageSource, whose vftable
//                             follows ImageSource's
//   FIXTURE_STDCALL           Scene::RefreshLayout is __stdcall (another convention on x86 only)
// (the library under another file name is the FIXTURE_FITS build, named otherwise).
#include <cstdint>

#include "host/APIInterface.h"
#include "host/Alloc.h"
#include "host/FileMonitor.h"
#include "host/HostExport.h"
#include "host/Log.h"
#include "host/String.h"
#include "host/Vect.h"

#if !defined(FIXTURE_SWAPPED_SLOTS)
#include "host/Graphics.h"
#endif
#if !defined(FIXTURE_PARAMETER_TYPE)
#include "host/XFile.h"
#endif
#if !defined(FIXTURE_PLAIN_MEMBERS)
#include "host/XElement.h"
#endif

namespace {
volatile int touched[72];
}

// Each stub writes its own cell.
#define TOUCH(n) (touched[n] = n)

// ------------------------------------------------------------------ what the module imports
APIInterface* API = nullptr;
Alloc* MainAllocator = nullptr;

String::String() : text_(nullptr), length_(0) {}
String::String(const wchar_t*) : text_(nullptr), length_(0) {
    TOUCH(1);
}
String::String(const char*) : text_(nullptr), length_(0) {
    TOUCH(2);
}
String::String(const String&) : text_(nullptr), length_(0) {
    TOUCH(3);
}
String::String(String&&) noexcept : text_(nullptr), length_(0) {
    TOUCH(4);
}
String::~String() {
    TOUCH(5);
}
String& String::operator=(const String&) {
    return TOUCH(6), *this;
}
String& String::operator=(String&&) noexcept {
    return TOUCH(7), *this;
}
String& String::operator=(const wchar_t*) {
    return TOUCH(8), *this;
}
int String::CompareI(const wchar_t*) const {
    return TOUCH(9);
}
char* String::CreateUTF8String() const {
    return TOUCH(10), nullptr;
}
void String::Assign(const wchar_t*, size_t) {
    TOUCH(11);
}
String GetPathExtension(const wchar_t*) {
    return String();
}

void Log(const wchar_t*, ...) {
    TOUCH(12);
}
void AppWarning(const wchar_t*, ...) {
    TOUCH(13);
}
void DumpError(const wchar_t*, ...) {
    for (;;)
        TOUCH(14);
}
void InitColorControl(void*) {
    TOUCH(15);
}

OSFileChangeData* OSMonitorFileStart(String, bool) {
    return TOUCH(16), nullptr;
}
#if !defined(FIXTURE_MISSING_FUNCTION)
bool OSFileHasChanged(OSFileChangeData*) {
    return TOUCH(17) != 0;
}
#endif
void OSMonitorFileDestroy(OSFileChangeData*) {
    TOUCH(18);
}

#if defined(FIXTURE_PARAMETER_TYPE)
class HOSTAPI XFile {
public:
    XFile();
    ~XFile();
    bool Open(const wchar_t* path, unsigned long access, unsigned long disposition);
    uint64_t GetFileSize() const;
    unsigned Read(void* buffer, unsigned size);
    void Close();

private:
    void* file_;
};
bool XFile::Open(const wchar_t*, unsigned long, unsigned long) {
    return TOUCH(19) != 0;
}
#else
bool XFile::Open(const wchar_t*, unsigned, unsigned) {
    return TOUCH(19) != 0;
}
#endif
XFile::XFile() : file_(nullptr) {}
XFile::~XFile() {
    TOUCH(20);
}
uint64_t XFile::GetFileSize() const {
    return file_ ? 0 : TOUCH(21);
}
unsigned XFile::Read(void*, unsigned) {
    return TOUCH(22);
}
void XFile::Close() {
    TOUCH(23);
}

#if defined(FIXTURE_SWAPPED_SLOTS)
class Shader;
class Texture;
class HOSTAPI GraphicsSystem {
public:
    virtual Shader* CreatePixelShaderFromFile(const wchar_t* path);
    virtual void BindPixelShader(Shader* shader);
    virtual Shader* CurrentPixelShader();
    virtual void DrawSprite(Texture* texture, uint32_t color, float x, float y, float x2, float y2);
    virtual Texture* CreateTexture(unsigned width, unsigned height, int format, const void* pixels,
                                   bool buildMipMaps, bool isStatic);
    virtual Texture* CreateTextureFromFile(const wchar_t* path, bool buildMipMaps);
};
Shader* GraphicsSystem::CreatePixelShaderFromFile(const wchar_t*) {
    return TOUCH(24), nullptr;
}
void GraphicsSystem::BindPixelShader(Shader*) {
    TOUCH(25);
}
Shader* GraphicsSystem::CurrentPixelShader() {
    return TOUCH(26), nullptr;
}
void GraphicsSystem::DrawSprite(Texture*, uint32_t, float, float, float, float) {
    TOUCH(27);
}
Texture* GraphicsSystem::CreateTexture(unsigned, unsigned, int, const void*, bool, bool) {
    return TOUCH(28), nullptr;
}
Texture* GraphicsSystem::CreateTextureFromFile(const wchar_t*, bool) {
    return TOUCH(29), nullptr;
}
HOSTAPI GraphicsSystem* GS = nullptr;
#elif !defined(FIXTURE_MISSING_GLOBAL)
GraphicsSystem* GS = nullptr;
#endif

#if defined(FIXTURE_PLAIN_MEMBERS)
class HOSTAPI XElement {
public:
    const wchar_t* GetString(const wchar_t* key, const wchar_t* def = nullptr);
    int GetInt(const wchar_t* key, int def = 0);
    float GetFloat(const wchar_t* key, float def = 0.0f);
    void SetString(const wchar_t* key, const wchar_t* value);
    void SetInt(const wchar_t* key, int value);
    void SetFloat(const wchar_t* key, float value);
    XElement* GetElement(const wchar_t* name);
    XElement* CreateElement(const wchar_t* name);
    XElement* GetParent();
    const wchar_t* GetName();
};
const wchar_t* XElement::GetString(const wchar_t*, const wchar_t*) {
    return TOUCH(30), nullptr;
}
int XElement::GetInt(const wchar_t*, int) {
    return TOUCH(31);
}
float XElement::GetFloat(const wchar_t*, float) {
    return static_cast<float>(TOUCH(32));
}
void XElement::SetString(const wchar_t*, const wchar_t*) {
    TOUCH(33);
}
void XElement::SetInt(const wchar_t*, int) {
    TOUCH(34);
}
void XElement::SetFloat(const wchar_t*, float) {
    TOUCH(35);
}
XElement* XElement::GetElement(const wchar_t*) {
    return TOUCH(36), nullptr;
}
XElement* XElement::CreateElement(const wchar_t*) {
    return TOUCH(37), nullptr;
}
XElement* XElement::GetParent() {
    return TOUCH(38), nullptr;
}
const wchar_t* XElement::GetName() {
    return TOUCH(39), nullptr;
}
#endif

// ------------------------------------------------------------------ classes exported whole
class SceneItem;
class HOSTAPI Scene {
public:
    virtual SceneItem* GetSceneItem(const wchar_t* name);
#if defined(FIXTURE_STDCALL)
    virtual void __stdcall RefreshLayout();
#elif !defined(FIXTURE_SHORT_VFTABLE)
    virtual void RefreshLayout();
#endif
};
SceneItem* Scene::GetSceneItem(const wchar_t*) {
    return TOUCH(40), nullptr;
}
#if defined(FIXTURE_STDCALL)
void __stdcall Scene::RefreshLayout() {
    TOUCH(41);
}
#elif !defined(FIXTURE_SHORT_VFTABLE)
void Scene::RefreshLayout() {
    TOUCH(41);
}
#endif

class HOSTAPI ImageSource {
public:
    virtual ~ImageSource();
    virtual void Preprocess();
    virtual void Advance(float seconds);
    virtual void Draw(const Vect2& pos, const Vect2& size);
    virtual Vect2 QuerySize() const;
    virtual void ApplySettings();
    virtual void SceneBegin();
    virtual void SceneEnd();
#if defined(FIXTURE_EXTRA_SLOT)
    virtual void SceneHidden();
#endif
    virtual void GlobalSourceLeaveScene();
    virtual void GlobalSourceEnterScene();
    virtual void SetFloat(const wchar_t* name, float value);
    virtual void SetInt(const wchar_t* name, int value);
    virtual void SetString(const wchar_t* name, const wchar_t* value);
    virtual void SetVector(const wchar_t* name, const Vect& value);
    virtual void SetVector2(const wchar_t* name, const Vect2& value);
    virtual void SetVector4(const wchar_t* name, const Vect4& value);
    virtual void SetMatrix(const wchar_t* name, const Matrix& value);
    virtual bool GetFloat(const wchar_t* name, float& value) const;
    virtual bool GetInt(const wchar_t* name, int& value) const;
    virtual bool GetString(const wchar_t* name, const wchar_t*& value) const;
    virtual bool GetVector(const wchar_t* name, Vect& value) const;
    virtual bool GetVector2(const wchar_t* name, Vect2& value) const;
    virtual bool GetVector4(const wchar_t* name, Vect4& value) const;
    virtual bool GetMatrix(const wchar_t* name, Matrix& value) const;
#if defined(FIXTURE_LONGER_TABLE)
    virtual void SceneShown();
#elif defined(FIXTURE_PURE_AT_END)
    virtual void SceneShown() = 0;
#endif
};
ImageSource::~ImageSource() {
    TOUCH(42);
}
void ImageSource::Preprocess() {
    TOUCH(43);
}
void ImageSource::Advance(float) {
    TOUCH(44);
}
void ImageSource::Draw(const Vect2&, const Vect2&) {
    TOUCH(45);
}
Vect2 ImageSource::QuerySize() const {
    return Vect2(static_cast<float>(TOUCH(46)), 0.0f);
}
void ImageSource::ApplySettings() {
    TOUCH(47);
}
void ImageSource::SceneBegin() {
    TOUCH(48);
}
void ImageSource::SceneEnd() {
    TOUCH(49);
}
#if defined(FIXTURE_EXTRA_SLOT)
void ImageSource::SceneHidden() {
    TOUCH(50);
}
#endif
void ImageSource::GlobalSourceLeaveScene() {
    TOUCH(51);
}
void ImageSource::GlobalSourceEnterScene() {
    TOUCH(52);
}
void ImageSource::SetFloat(const wchar_t*, float) {
    TOUCH(53);
}
void ImageSource::SetInt(const wchar_t*, int) {
    TOUCH(54);
}
void ImageSource::SetString(const wchar_t*, const wchar_t*) {
    TOUCH(55);
}
void ImageSource::SetVector(const wchar_t*, const Vect&) {
    TOUCH(56);
}
void ImageSource::SetVector2(const wchar_t*, const Vect2&) {
    TOUCH(57);
}
void ImageSource::SetVector4(const wchar_t*, const Vect4&) {
    TOUCH(58);
}
void ImageSource::SetMatrix(const wchar_t*, const Matrix&) {
    TOUCH(59);
}
bool ImageSource::GetFloat(const wchar_t*, float&) const {
    return TOUCH(60) == 0;
}
bool ImageSource::GetInt(const wchar_t*, int&) const {
    return TOUCH(61) == 0;
}
bool ImageSource::GetString(const wchar_t*, const wchar_t*&) const {
    return TOUCH(62) == 0;
}
bool ImageSource::GetVector(const wchar_t*, Vect&) const {
    return TOUCH(63) == 0;
}
bool ImageSource::GetVector2(const wchar_t*, Vect2&) const {
    return TOUCH(64) == 0;
}
bool ImageSource::GetVector4(const wchar_t*, Vect4&) const {
    return TOUCH(65) == 0;
}
bool ImageSource::GetMatrix(const wchar_t*, Matrix&) const {
    return TOUCH(66) == 0;
}
#if defined(FIXTURE_LONGER_TABLE)
void ImageSource::SceneShown() {
    TOUCH(67);
}
#endif

#if defined(FIXTURE_NEXT_TABLE)
// A class of the host's own whose exported vftable comes right after ImageSource's.
class HOSTAPI Overlay {
public:
    virtual void Show();
};
void Overlay::Show() {
    TOUCH(68);
}
#endif
