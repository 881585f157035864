#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Picks request frames "S" + text + "E" out of the bytes the program writes. The frame may
// arrive in pieces; bytes outside a frame are skipped; an "S" always starts a new frame; a
// frame that grows past kMaxText characters is dropped. In the text, ":" … "?" stand for
// "a" … "f" and are given back as those letters.
class RequestFramer {
  public:
    static constexpr std::size_t kMaxText = 64;

    struct Request {
        std::string text;
        std::size_t endOffset;  // position of the closing "E" in the block that completed it
    };

    std::vector<Request> feed(const char* bytes, std::size_t count);
    bool inFrame() const { return m_inFrame; }

  private:
    std::string m_text;
    bool m_inFrame = false;
};
