#pragma once

// An element of the host's configuration tree: a named node with keyed values and child elements.
// Elements belong to the tree; pointers stay valid while the tree holds the element.
class XElement {
public:
    // The stored text, owned by the element and valid until the key is next written, or `def`
    // (which may be null) when the key is absent. Numbers are returned in their text form.
    virtual const wchar_t* GetString(const wchar_t* key, const wchar_t* def = nullptr) = 0;
    // The stored value as an integer (text read as a decimal number), or `def` when absent.
    virtual int GetInt(const wchar_t* key, int def = 0) = 0;
    // The stored value as a float, or `def` when absent.
    virtual float GetFloat(const wchar_t* key, float def = 0.0f) = 0;

    // Create or replace the value under `key`.
    virtual void SetString(const wchar_t* key, const wchar_t* value) = 0;
    virtual void SetInt(const wchar_t* key, int value) = 0;
    virtual void SetFloat(const wchar_t* key, float value) = 0;

    // The first child element of that name, or null.
    virtual XElement* GetElement(const wchar_t* name) = 0;
    // A new child element of that name, appended after the existing children.
    virtual XElement* CreateElement(const wchar_t* name) = 0;
    // The parent element, or null for the root.
    virtual XElement* GetParent() = 0;
    virtual const wchar_t* GetName() = 0;

protected:
    ~XElement() = default;
};
