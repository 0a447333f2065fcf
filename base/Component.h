// SPDX-License-Identifier: Apache-2.0
#pragma once
// The root object and the minimal component base: a name, an optional owner and the two
// state flags the subsystems read (design mode, destruction in progress). An owner does
// not free its components here: every object is owned through std::unique_ptr or as a
// member, so the owner pointer is only a back reference.
#include <string>

class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject();
};

class TComponent : public TObject {
public:
    explicit TComponent(TComponent* owner = nullptr) : owner_(owner) {}

    TComponent* Owner() const noexcept { return owner_; }
    const std::string& Name() const noexcept { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }

    // csDesigning: the component is being edited, not run. Nothing in this system runs in
    // design mode; the flag exists because a few reads answer differently there.
    bool Designing() const noexcept { return designing_; }
    void SetDesigning(bool on) noexcept { designing_ = on; }

    // csDestroying: set by the first line of a destructor that must not raise events
    // while it tears the object down.
    bool Destroying() const noexcept { return destroying_; }

protected:
    void BeginDestroy() noexcept { destroying_ = true; }

private:
    TComponent* owner_;
    std::string name_;
    bool designing_ = false;
    bool destroying_ = false;
};
