#include "plugin/PluginEntry.h"

#include "host/Host.h"
#include "source/VoteImageSource.h"

namespace vantrel {

// One text is the class name, its display name and the plug-in's name.
const wchar_t kPluginName[] = L"Vantrel特效插件(zidi)";
const wchar_t kPluginDescription[] =
    L"Vantrel提供用于随机抽取观众弹幕并显示在直播画面的插件。"
    L"更多直播工具请前往工具下载站：https://tools.example.com/ ；"
    L"了解作者与更多作品请访问主页：https://www.example.com/";

namespace {
// Written only by the load notification, before any other entry point runs.
void* moduleHandle = nullptr;
}  // namespace

bool OnModuleLoad(void* instance, unsigned long reason) {
    const unsigned long kProcessAttach = 1;
    if (reason == kProcessAttach)
        moduleHandle = instance;
    return true;
}

void* ModuleHandle() {
    return moduleHandle;
}

bool LoadPlugin() {
    VoteImageSource::AllowBackgroundWorkers();
    InitColorControl(moduleHandle);
    API->RegisterSourceClass(kPluginName, kPluginName, &CreateBitmapSource, &ConfigureBitmapSource);
    return true;
}

bool UnloadPlugin() {
    return VoteImageSource::EndBackgroundWorkers(kUnloadWait);
}

const wchar_t* GetPluginName() {
    return kPluginName;
}

const wchar_t* GetPluginDescription() {
    return kPluginDescription;
}

}  // namespace vantrel
