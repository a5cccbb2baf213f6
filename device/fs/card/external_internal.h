// Shared by the card folder object's source files only.
#pragma once

namespace engine {

// One pipe bracket for a card operation and everything it calls: only the outermost opens and closes
// the pipes, since closing ends the bracket whatever opened it.
class CardBracket {
public:
    CardBracket();
    ~CardBracket();
    CardBracket(const CardBracket&) = delete;
    CardBracket& operator=(const CardBracket&) = delete;
};

// The closing progress notice (counts no step).
void CardProgressEnd();

}  // namespace engine
