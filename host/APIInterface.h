#pragma once

#include <cstdint>

#include "HostExport.h"

class ImageSource;
class Scene;
class XElement;

// Create callback: builds a source for its data element, or returns null. The host owns the result.
using CreateSourceProc = ImageSource* (*)(XElement* data);
// Configure callback: the user configures the source of this source element. `creating` is true
// when the source is new. Returns whether the configuration was accepted.
using ConfigureSourceProc = bool (*)(XElement* element, bool creating);

class APIInterface {
public:
    // Registers a source class. `className` keys the class in stored scenes; `displayName` is shown
    // to the user. The texts must outlive the registration.
    virtual bool RegisterSourceClass(const wchar_t* className, const wchar_t* displayName,
                                     CreateSourceProc create, ConfigureSourceProc configure) = 0;
    // The scene now shown, or null. Owned by the host.
    virtual Scene* CurrentScene() = 0;
    // The canvas size in pixels.
    virtual void GetCanvasSize(uint32_t& width, uint32_t& height) = 0;
    // True while the host's output (stream or recording) runs.
    virtual bool IsOutputActive() = 0;

protected:
    ~APIInterface() = default;
};

#if defined(VANTREL_HOST_GLOBALS_DIRECT)
extern HOSTAPI APIInterface* API;
#else
extern APIInterface** vantrel_hostAPI;
#define API (*vantrel_hostAPI)
#endif
