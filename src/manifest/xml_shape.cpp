#include "manifest/xml_shape.h"

#include <cstring>

namespace vard {

namespace {

// The bytes TinyXML steps over at once when it reads a character whose UTF-8 lead byte
// announces a longer sequence (it does not look at the bytes it steps over).
std::size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 1;
}

bool IsSpace(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// What starts an element for TinyXML after '<': an ASCII letter, '_', or any byte from
// 0x7F up (which it takes for a letter).
bool StartsName(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c >= 0x7F;
}

class Scanner {
 public:
  Scanner(const unsigned char* bytes, std::size_t length) : text_(bytes), size_(length) {}

  XmlShape Run() {
    // TinyXML stops at the first NUL, unless a lead byte steps it over one.
    const void* nul = size_ == 0 ? nullptr : std::memchr(text_, 0, size_);
    const std::size_t visible =
        nul == nullptr ? size_ : static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - text_);
    if (!SequencesStayInside(nul == nullptr ? size_ : visible + 1)) return Refused();
    size_ = visible;
    std::size_t at = 0;
    while (at < size_ && shape_.acceptable) {
      if (text_[at] != '<') {
        if (text_[at] == '&' && !ReferenceIsPlain(at)) return Refused();
        ++at;
      } else if (Is(at, "</")) {
        if (depth_ > 0) --depth_;
        at = After('>', at);
      } else if (IsIgnoringCase(at, "<?xml")) {
        at = Declaration(at);
      } else if (Is(at, "<!--")) {
        at = AfterText("-->", at + 4);
      } else if (Is(at, "<![CDATA[")) {
        at = AfterText("]]>", at + 9);
      } else if (at + 1 < size_ && StartsName(text_[at + 1])) {
        at = StartTag(at);
      } else {
        at = After('>', at);  // "<!DOCTYPE ...>", "<?pi ...>" and the like: up to the first '>'
      }
    }
    return shape_;
  }

 private:
  XmlShape Refused() {
    shape_.acceptable = false;
    return shape_;
  }

  // Every multi-byte lead byte among the first count bytes is followed by bytes from 0x80
  // up: TinyXML never steps over markup, a quote or the terminating NUL.
  bool SequencesStayInside(std::size_t count) const {
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t length = SequenceLength(text_[i]);
      for (std::size_t k = 1; k < length && i + k < size_; ++k) {
        if (text_[i + k] < 0x80) return false;
      }
    }
    return true;
  }

  bool Is(std::size_t at, const char* word) const {
    const std::size_t n = std::strlen(word);
    return size_ - at >= n && std::memcmp(text_ + at, word, n) == 0;
  }

  bool IsIgnoringCase(std::size_t at, const char* word) const {
    const std::size_t n = std::strlen(word);
    if (size_ - at < n) return false;
    for (std::size_t i = 0; i < n; ++i) {
      if ((text_[at + i] | 0x20) != (static_cast<unsigned char>(word[i]) | 0x20)) return false;
    }
    return true;
  }

  std::size_t After(unsigned char c, std::size_t from) const {
    const void* found = std::memchr(text_ + from, c, size_ - from);
    return found == nullptr ? size_ : static_cast<std::size_t>(static_cast<const unsigned char*>(found) - text_) + 1;
  }

  std::size_t AfterText(const char* end, std::size_t from) const {
    const std::size_t n = std::strlen(end);
    for (std::size_t at = from; at + n <= size_; ++at) {
      if (std::memcmp(text_ + at, end, n) == 0) return at + n;
    }
    return size_;
  }

  // A numeric reference ("&#...;", "&#x...;") is read up to the next ';' whatever lies
  // between when its last digits before the ';' are valid; it must not reach over markup
  // or a quote. Stretches already found clean are not scanned again.
  bool ReferenceIsPlain(std::size_t at) {
    if (at + 1 >= size_ || text_[at + 1] != '#') return true;
    if (at < clean_until_) return true;
    for (std::size_t k = at + 2; k < size_; ++k) {
      const unsigned char c = text_[k];
      if (c == ';') {
        clean_until_ = k;
        return true;
      }
      if (c == '<' || c == '>' || c == '"' || c == '\'') return false;
    }
    clean_until_ = size_;
    return true;
  }

  // "<name attributes>" or "<name attributes/>". TinyXML takes a quote only where a value
  // starts and stops at any other, so following quotes pairwise follows it exactly; each
  // attribute has its own '=' outside quotes.
  std::size_t StartTag(std::size_t at) {
    ++shape_.elements;
    std::size_t attributes = 0;
    unsigned char quote = 0;
    for (std::size_t k = at + 1; k < size_; ++k) {
      const unsigned char c = text_[k];
      if (c == '&' && !ReferenceIsPlain(k)) {
        shape_.acceptable = false;
        return size_;
      }
      if (quote != 0) {
        if (c == quote) {
          quote = 0;
        } else if (c == '<' || c == '>') {
          shape_.acceptable = false;
          return size_;
        }
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '=') {
        ++attributes;
      } else if (c == '<') {
        shape_.acceptable = false;
        return size_;
      } else if (c == '>') {
        Close(attributes, text_[k - 1] != '/');
        return k + 1;
      }
    }
    Close(attributes, true);
    return size_;
  }

  // An element, empty or not, sits one level below the open ones around it.
  void Close(std::size_t attributes, bool opens) {
    if (attributes > shape_.attributes) shape_.attributes = attributes;
    if (depth_ + 1 > shape_.depth) shape_.depth = depth_ + 1;
    if (opens) ++depth_;
  }

  // "<?xml ...>": TinyXML reads quoted values after "version", "encoding" and "standalone"
  // (and steps over anything else up to a space or '>'), so a value may hold a '>'. The
  // declaration ends at its first '>' only when every quote that may open a value (one
  // after '=') is closed before it.
  std::size_t Declaration(std::size_t at) {
    const void* found = std::memchr(text_ + at, '>', size_ - at);
    const std::size_t end =
        found == nullptr ? size_ : static_cast<std::size_t>(static_cast<const unsigned char*>(found) - text_);
    for (std::size_t k = at + 5; k < end; ++k) {
      const unsigned char c = text_[k];
      if (c == '&' && !ReferenceIsPlain(k)) {
        shape_.acceptable = false;
        return size_;
      }
      if (c != '"' && c != '\'') continue;
      std::size_t before = k;
      while (before > at + 5 && (IsSpace(text_[before - 1]) || text_[before - 1] >= 0x80)) --before;
      if (text_[before - 1] != '=') continue;
      const void* closing = std::memchr(text_ + k + 1, c, end - k - 1);
      if (closing == nullptr) {
        shape_.acceptable = false;
        return size_;
      }
    }
    return end < size_ ? end + 1 : size_;
  }

  const unsigned char* text_;
  std::size_t size_;
  std::size_t depth_ = 0;
  std::size_t clean_until_ = 0;
  XmlShape shape_;
};

}  // namespace

XmlShape MeasureXmlShape(const unsigned char* bytes, std::size_t length) {
  if (bytes == nullptr) return XmlShape{};
  return Scanner(bytes, length).Run();
}

bool IsManifestShaped(const XmlShape& shape) {
  return shape.acceptable && shape.depth <= kMaxXmlDepth &&
         shape.attributes <= kMaxXmlAttributes && shape.elements <= kMaxXmlElements;
}

}  // namespace vard
