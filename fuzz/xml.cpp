// Fuzz target for the lenient XML reader: any bytes must load without a crash or a
// leak, and the tree must hold the reader's promises.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "library/Streams.h"
#include "library/Xml.h"

using namespace zel;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TReadOnlyMemoryStream stream(data, size);
  const TZELXMLDocument doc(stream);
  if (size < 5) Check(doc.ChildCount() == 0);

  // Walk without recursion: the input may nest as deep as it is long.
  std::vector<const TZELXMLNode*> pending{&doc};
  while (!pending.empty()) {
    const TZELXMLNode* node = pending.back();
    pending.pop_back();
    // Text of an element with children is dropped.
    if (node != &doc) Check(node->ChildCount() == 0 || node->Text().empty());
    for (const TZELXMLAttribute& attribute : node->Attributes()) {
      Check(attribute.Name() != "xml:space");
      Check(node->Attributes().Find(attribute.Name()) != nullptr);
    }
    Check(node->Child(node->ChildCount()) == nullptr);
    for (const auto& child : node->Children()) {
      Check(child->Parent() == node);
      Check(node->FindChild(child->Name()) != nullptr);
      pending.push_back(child.get());
    }
  }
  return 0;
}
