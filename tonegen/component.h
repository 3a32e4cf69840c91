// The least of a component framework that the tone generator needs: an owner that destroys the
// components it owns, a name, the loading and designing flags, and the hook through which a
// component adds binary values of its own to its stored settings.
//
// Ownership: a component created with an owner belongs to it and is destroyed with it (last
// inserted first). A component may also be held by a smart pointer; destroying it earlier takes
// it out of its owner's list, so it is never destroyed twice.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tonegen_api.h"

// A binary value of a component's stored settings, in memory: written at its end, read from a
// moving position.
class ZELKGEN_TONEGEN_API TBinaryStream {
 public:
  TBinaryStream() = default;
  explicit TBinaryStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

  // Reads count bytes into buffer. Returns false, reads nothing and moves nothing when fewer than
  // count bytes are left (the framework's "Stream read error").
  bool ReadBuffer(void* buffer, size_t count);
  void WriteBuffer(const void* buffer, size_t count);

  size_t Position() const { return position_; }
  size_t Remaining() const { return bytes_.size() - position_; }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  size_t position_ = 0;
};

// The error text of a binary value that ends before its reader is done.
inline constexpr const char* kStreamReadError = "Stream read error";

// Collects the binary values a component stores beyond its properties.
class ZELKGEN_TONEGEN_API TFiler {
 public:
  // A reader returns false when the value is too short for it (the stream read error); it must
  // then leave the component as it was.
  using Reader = std::function<bool(TBinaryStream&)>;
  using Writer = std::function<void(TBinaryStream&)>;

  struct BinaryProperty {
    std::string name;
    Reader read;
    Writer write;
    bool has_data = false;  // written only when true
  };

  void DefineBinaryProperty(const std::string& name, Reader read, Writer write, bool has_data);
  // nullptr when no value of that name was defined.
  const BinaryProperty* Find(const std::string& name) const;
  const std::vector<BinaryProperty>& Properties() const { return properties_; }

 private:
  std::vector<BinaryProperty> properties_;
};

class ZELKGEN_TONEGEN_API TComponent {
 public:
  // Inserts itself into AOwner (which may be null); designing when the owner is.
  explicit TComponent(TComponent* AOwner);
  // Destroys the components it owns, last inserted first, then leaves its owner.
  virtual ~TComponent();

  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }

  // Set while the stored settings are being applied.
  bool Loading() const { return loading_; }
  void SetLoading(bool on) { loading_ = on; }
  // Set when the component lives in a design environment; passed on to the owned components.
  bool Designing() const { return designing_; }
  void SetDesigning(bool on);

  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const { return components_.at(static_cast<size_t>(index)); }

  // Registers the binary values stored with the settings. The base stores none.
  virtual void DefineProperties(TFiler& Filer);

 private:
  void InsertComponent(TComponent* component);
  void RemoveComponent(TComponent* component);

  TComponent* owner_ = nullptr;
  std::vector<TComponent*> components_;
  std::string name_;
  bool loading_ = false;
  bool designing_ = false;
};
