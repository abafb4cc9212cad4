// Parse states of the XML reader. Each open element is handled by the state
// its parent's state chose; a document's grammar is a family of these.
#pragma once

#include <map>
#include <string>
#include <utility>

#include "Tessary/StrToL.h"
#include "Tessary/TSException.h"

namespace Tessary {

// The reader never deletes a state: a state either deletes itself when its
// element ends or the parse is abandoned (the self-destructing family), or
// is owned by whoever made it. Text, names and values arrive as UTF-8.
class XercesXMLParsingState {
public:
    virtual ~XercesXMLParsingState() = default;
    // A child element starts. Returns the child's state, or null to have the
    // child skipped with everything inside it.
    virtual XercesXMLParsingState* StartElement(const std::string& name,
                                                const std::map<std::string, std::string>& attributes) = 0;
    // Character data of this element (between its children too): at most one
    // call per run of text between two tags, never for white space alone.
    virtual void Characters(const std::string& text) = 0;
    virtual void EndElement() {}
    // The parse failed while this state was still open.
    virtual void Abort() {}
};

// Ignores text. Base of document and response states on the caller's stack.
class XMLNoTextState : public virtual XercesXMLParsingState {
public:
    void Characters(const std::string&) override {}
};

// Dies with its element: deletes itself at the end or on abort, so it must
// be made with new.
class XMLStateSelfDestruct : public virtual XercesXMLParsingState {
public:
    void EndElement() override { SelfDestruct(); }
    void Abort() override { SelfDestruct(); }

protected:
    void SelfDestruct() { delete this; }
};

class XMLNoTextStateSelfDestruct : public XMLStateSelfDestruct {
public:
    void Characters(const std::string&) override {}
};

// Collects the element's text; child elements are skipped.
class XMLTextState : public XMLStateSelfDestruct {
public:
    XercesXMLParsingState* StartElement(const std::string&, const std::map<std::string, std::string>&) override {
        return nullptr;
    }
    void Characters(const std::string& text) override { text_ += text; }
    std::string GetText() const { return text_; }

protected:
    const std::string& Text() const { return text_; }
    std::string TakeText() { return std::move(text_); }

private:
    std::string text_;
};

// A text state whose owner reads the text as an integer (StrToL).
template <class T>
class XMLIntegerState : public XMLTextState {};

// A text state whose owner reads the text as a floating-point number (StrToD).
class XMLFloatState : public XMLTextState {};

// Stores the text into the caller's string when the element ends.
class XMLStringSetState : public XMLTextState {
public:
    explicit XMLStringSetState(std::string* target) : target_(target) {}
    void EndElement() override {
        *target_ = TakeText();
        SelfDestruct();
    }

private:
    std::string* target_;
};

// Stores the number in the text (0 when there is none; never an error).
template <class T>
class XMLIntegerSetState : public XMLTextState {
public:
    explicit XMLIntegerSetState(T* target) : target_(target) {}
    void EndElement() override {
        *target_ = static_cast<T>(StrToL(Text()));
        SelfDestruct();
    }

private:
    T* target_;
};

// Hands the text to a setter of T when the element ends.
template <class T>
class XMLSetStringDataState : public XMLTextState {
public:
    using Setter = void (T::*)(const std::string&);
    XMLSetStringDataState(T* object, Setter setter) : object_(object), setter_(setter) {}
    void EndElement() override {
        (object_->*setter_)(Text());
        SelfDestruct();
    }

private:
    T* object_;
    Setter setter_;
};

// Hands (index, text) to a setter of T when the element ends.
template <class T>
class XMLSetIndexedStringDataState : public XMLTextState {
public:
    using Setter = void (T::*)(int, const std::string&);
    XMLSetIndexedStringDataState(T* object, int index, Setter setter)
        : object_(object), index_(index), setter_(setter) {}
    void EndElement() override {
        (object_->*setter_)(index_, Text());
        SelfDestruct();
    }

private:
    T* object_;
    int index_;
    Setter setter_;
};

// Hands the number in the text to a setter of T. Text without a number
// throws, which fails the parse; the state is then aborted by the reader.
template <class T, class U>
class XMLSetIntDataState : public XMLIntegerState<U> {
public:
    using Setter = void (T::*)(U);
    XMLSetIntDataState(T* object, Setter setter) : object_(object), setter_(setter) {}
    void EndElement() override {
        std::size_t consumed = 0;
        const std::int32_t value = StrToL(this->Text(), &consumed);
        if (consumed == 0) TS_THROW(TSRuntimeError, "Can't extract integer value from XML");
        (object_->*setter_)(static_cast<U>(value));
        this->SelfDestruct();
    }

private:
    T* object_;
    Setter setter_;
};

}  // namespace Tessary
