#pragma once
// The component library's lenient XML reader: a tree of
// elements with attributes and text, read by a small byte-oriented parser that never
// rejects its input. It is what "Install.xml" is read with.
//
// Names of elements and attributes are kept as the bytes that stood in the file and
// are compared byte for byte; text and attribute values are decoded to String in the
// file's declared encoding (UTF-8, a "Windows-NNNN" code page, or the ANSI code page).
//
// Nothing here recurses over the tree: parsing keeps a current-node pointer and the
// destructor flattens subtrees into a work list, so arbitrarily deep input is safe.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "library/Strings.h"

namespace zel {

class TStream;

class TZELXMLAttribute {
public:
  TZELXMLAttribute(std::string name, String value) : FName(std::move(name)), FValue(std::move(value)) {}
  const std::string& Name() const { return FName; }
  const String& Value() const { return FValue; }
  void SetValue(String value) { FValue = std::move(value); }

private:
  std::string FName;
  String FValue;
};

// The ordered attributes of one element. Adding may move the items, so pointers
// handed out stay valid only until the next Add.
class TZELXMLAttributes {
public:
  size_t Count() const { return FItems.size(); }
  // Null when the index is out of range.
  const TZELXMLAttribute* Item(size_t index) const;
  // The first attribute with exactly this name (byte for byte, case-sensitive), or null.
  const TZELXMLAttribute* Find(std::string_view name) const;
  // The value of Find(name), or empty text when there is no such attribute.
  String Value(std::string_view name) const;
  TZELXMLAttribute& Add(std::string name, String value);
  void Clear() { FItems.clear(); }

  auto begin() const { return FItems.begin(); }
  auto end() const { return FItems.end(); }

private:
  std::vector<TZELXMLAttribute> FItems;
};

class TZELXMLNode {
public:
  explicit TZELXMLNode(TZELXMLNode* parent = nullptr, std::string name = {})
      : FParent(parent), FName(std::move(name)) {}
  virtual ~TZELXMLNode();
  TZELXMLNode(const TZELXMLNode&) = delete;
  TZELXMLNode& operator=(const TZELXMLNode&) = delete;

  TZELXMLNode* Parent() const { return FParent; }
  const std::string& Name() const { return FName; }
  void SetName(std::string name) { FName = std::move(name); }
  const String& Text() const { return FText; }
  void SetText(String text) { FText = std::move(text); }

  size_t ChildCount() const { return FChildren.size(); }
  // Null when the index is out of range.
  TZELXMLNode* Child(size_t index) const;
  const std::vector<std::unique_ptr<TZELXMLNode>>& Children() const { return FChildren; }
  // The first child with this name: exactly, or ignoring ASCII case.
  TZELXMLNode* FindChild(std::string_view name) const;
  TZELXMLNode* FindChildIgnoreCase(std::string_view name) const;
  // Appends a child owned by this node.
  TZELXMLNode& AddChild(std::string name);

  TZELXMLAttributes& Attributes() { return FAttributes; }
  const TZELXMLAttributes& Attributes() const { return FAttributes; }
  // Attributes().Value(name): the value, or empty text when absent.
  String AttributeValue(std::string_view name) const { return FAttributes.Value(name); }

  // Drops children, attributes and text (not the name).
  void Clear();

private:
  void DeleteChildren() noexcept;

  TZELXMLNode* FParent;
  std::string FName;
  String FText;
  std::vector<std::unique_ptr<TZELXMLNode>> FChildren;
  TZELXMLAttributes FAttributes;
};

// The root: a node without a name whose children are the top-level elements.
class TZELXMLDocument : public TZELXMLNode {
public:
  TZELXMLDocument() = default;
  // Builds the document from the stream's remaining bytes (see LoadFromStream).
  explicit TZELXMLDocument(TStream& stream) { LoadFromStream(stream); }

  // Replaces the content with the stream's remaining bytes. Fewer than 5 bytes leave
  // the document empty; the library's binary forms, marked "SXML" and "BXML", are not
  // read by this program and also leave it empty; anything else is parsed as text.
  void LoadFromStream(TStream& stream);
  void LoadFromBytes(std::string_view bytes);
};

// The text parser. It raises nothing: malformed input ends the tree where it ends.
class TZELTextXMLParser {
public:
  explicit TZELTextXMLParser(std::string_view data) : FData(data) {}
  // Appends what the text holds below root.
  void Parse(TZELXMLNode& root);

private:
  // Inside a tag; any "<" (an open, close-open, comment or character-data token) is
  // Markup, which stops the parse there.
  enum class TTokenKind { EndOfData, Markup, EndEmpty, End, Equals, Quoted, Word };
  struct TToken {
    TTokenKind Kind;
    std::string_view Text;  // a word, or a quoted run without its quotes
  };
  struct TTagAttribute {
    std::string_view Name;
    std::string_view Value;
  };
  struct TTag {
    std::string_view Name;
    std::vector<TTagAttribute> Attributes;
  };
  enum class TTagEnd { Open, Empty, Stopped };

  TToken NextTagToken();
  TTagEnd ReadTag(TTag& tag);
  void ApplyDeclaration(const TTag& tag);
  // Bytes of the file -> characters in its encoding -> entities decoded.
  String Decode(std::string_view bytes);
  char16_t DecodeByte(uint8_t byte);
  bool At(std::string_view marker) const { return FData.substr(FPos, marker.size()) == marker; }

  std::string_view FData;
  size_t FPos = 0;
  bool FUtf8 = false;
  unsigned FCodePage = 0;  // 0: the ANSI code page
  // Single bytes of FCodePage, filled when a run of text is not valid in it as a whole.
  std::vector<char16_t> FByteTable;
};

// Entity decoding of text and attribute values: "&amp;" "&gt;" "&lt;" "&quot;" "&apos;",
// "&#NN;" decimal and "&#xNN;" / "&#$NN;" hexadecimal character codes, a backslash before
// one of & > < " ' giving that character. An unknown name gives the name itself; a code
// that is no Unicode scalar value (0, a surrogate, above U+10FFFF) gives U+FFFD.
String DecodeXMLEntities(StringView text);

}  // namespace zel
