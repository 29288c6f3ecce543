#pragma once

#include "Vect.h"

// Base class of every source that the host shows. The host creates a source through its class's
// create callback, owns it from then on, calls one source's operations one at a time on its own
// threads, and destroys it through the virtual destructor.
class ImageSource {
public:
    virtual ~ImageSource() = default;

    // Before the frame's updates; rarely needed.
    virtual void Preprocess() {}
    // Once per frame, with the seconds since the previous call.
    virtual void Advance(float seconds) { (void)seconds; }
    // Whenever the host renders the source's item: top-left corner and size in canvas pixels.
    virtual void Draw(const Vect2& pos, const Vect2& size) = 0;
    // The source's own size in pixels, whenever the host needs it.
    virtual Vect2 QuerySize() const = 0;
    // When the source's settings have changed.
    virtual void ApplySettings() {}
    // When the scene that holds the source starts and ends.
    virtual void SceneBegin() {}
    virtual void SceneEnd() {}

    // For sources shared between scenes.
    virtual void GlobalSourceLeaveScene() {}
    virtual void GlobalSourceEnterScene() {}

    // Named parameters that the host may set or query; a source that knows none ignores them.
    virtual void SetFloat(const wchar_t* name, float value) { (void)name, (void)value; }
    virtual void SetInt(const wchar_t* name, int value) { (void)name, (void)value; }
    virtual void SetString(const wchar_t* name, const wchar_t* value) { (void)name, (void)value; }
    virtual void SetVector(const wchar_t* name, const Vect& value) { (void)name, (void)value; }
    virtual void SetVector2(const wchar_t* name, const Vect2& value) { (void)name, (void)value; }
    virtual void SetVector4(const wchar_t* name, const Vect4& value) { (void)name, (void)value; }
    virtual void SetMatrix(const wchar_t* name, const Matrix& value) { (void)name, (void)value; }
    virtual bool GetFloat(const wchar_t* name, float& value) const {
        return (void)name, (void)value, false;
    }
    virtual bool GetInt(const wchar_t* name, int& value) const {
        return (void)name, (void)value, false;
    }
    virtual bool GetString(const wchar_t* name, const wchar_t*& value) const {
        return (void)name, (void)value, false;
    }
    virtual bool GetVector(const wchar_t* name, Vect& value) const {
        return (void)name, (void)value, false;
    }
    virtual bool GetVector2(const wchar_t* name, Vect2& value) const {
        return (void)name, (void)value, false;
    }
    virtual bool GetVector4(const wchar_t* name, Vect4& value) const {
        return (void)name, (void)value, false;
    }
    virtual bool GetMatrix(const wchar_t* name, Matrix& value) const {
        return (void)name, (void)value, false;
    }
};
