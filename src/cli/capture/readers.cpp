#include "readers.h"

#include <limits>

namespace {

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

constexpr char UpperHexDigits[] = "0123456789ABCDEF";

std::uint32_t TextOffset(const std::string& text) { return static_cast<std::uint32_t>(text.size()); }

} // namespace

std::string_view WantedColumn(const TReaderOptions& options) {
    return options.Column.empty() ? std::string_view("miso") : std::string_view(options.Column);
}

void AppendFrame(TCaptureBatch& batch, std::uint64_t line, TCaptureKind kind, std::string_view input,
                 const TFrameData& data) {
    TCaptureFrame frame;
    frame.Line = line;
    frame.Kind = kind;
    frame.InputOffset = TextOffset(batch.Text);
    frame.InputSize = static_cast<std::uint32_t>(input.size());
    frame.Data = data;
    batch.Text.append(input);
    batch.Frames.push_back(frame);
}

void AppendLongFrame(TCaptureBatch& batch, std::uint64_t line, std::string_view start) {
    TCaptureFrame frame;
    frame.Line = line;
    frame.Kind = TCaptureKind::ckInvalid;
    frame.InputOffset = TextOffset(batch.Text);
    const std::string_view kept = LongTextStart(start);
    batch.Text.append(kept);
    batch.Text.append(LongTextEllipsis);
    frame.InputSize = static_cast<std::uint32_t>(kept.size() + LongTextEllipsis.size());
    batch.Frames.push_back(frame);
}

// ---------------------------------------------------------------------------------------------

void TFrameQueue::Push(std::uint64_t line, TCaptureKind kind, std::string_view input,
                       const TFrameData& data) {
    TCaptureFrame frame;
    frame.Line = line;
    frame.Kind = kind;
    frame.InputOffset = TextOffset(FText);
    frame.InputSize = static_cast<std::uint32_t>(input.size());
    frame.Data = data;
    FText.append(input);
    FFrames.push_back(frame);
}

void TFrameQueue::PushLong(std::uint64_t line, std::string_view start) {
    const std::string_view kept = LongTextStart(start);
    TCaptureFrame frame;
    frame.Line = line;
    frame.Kind = TCaptureKind::ckInvalid;
    frame.InputOffset = TextOffset(FText);
    frame.InputSize = static_cast<std::uint32_t>(kept.size() + LongTextEllipsis.size());
    FText.append(kept);
    FText.append(LongTextEllipsis);
    FFrames.push_back(frame);
}

void TFrameQueue::MoveTo(TCaptureBatch& batch, std::size_t limit, std::size_t textLimit) {
    while (FHead < FFrames.size() && batch.Frames.size() < limit && batch.Text.size() < textLimit) {
        TCaptureFrame frame = FFrames[FHead++];
        const std::string_view input(FText.data() + frame.InputOffset, frame.InputSize);
        frame.InputOffset = TextOffset(batch.Text);
        batch.Text.append(input);
        batch.Frames.push_back(frame);
    }
    if (FHead == FFrames.size()) {
        FFrames.clear();
        FText.clear();
        FHead = 0;
    }
}

// ---------------------------------------------------------------------------------------------

void TFrameAssembler::Append(std::string_view text) {
    // Keep one byte beyond the limit, to know the frame is too long.
    if (FText.size() + text.size() > MaxLineBytes) {
        FText.append(text.substr(0, MaxLineBytes + 1 - std::min(FText.size(), MaxLineBytes + 1)));
        FTooLong = true;
    } else {
        FText.append(text);
    }
}

void TFrameAssembler::Deliver() {
    if (FTooLong) {
        FQueue.PushLong(FLine, FText);
    } else {
        FQueue.Push(FLine, FInvalid ? TCaptureKind::ckInvalid : TCaptureKind::ckHex, FText);
    }
    FText.clear();
    FPending = false;
    FInvalid = false;
    FTooLong = false;
}

void TFrameAssembler::FlushPartial() {
    if (FPending) {
        // The rest of a frame cut by size: never dropped, and never a whole frame.
        FInvalid = true;
        Deliver();
    }
}

void TFrameAssembler::Open(std::uint64_t line) {
    Close();
    FlushPartial();
    FOpen = true;
    if (FFrameDigits == 0) {
        FLine = line;
    }
}

void TFrameAssembler::Close() {
    if (!FOpen) {
        return;
    }
    FOpen = false;
    if (FFrameDigits == 0) {
        // A group without any value is no frame.
        if (FPending) {
            Deliver();
        }
    } else {
        FlushPartial();
    }
}

void TFrameAssembler::AddDigits(std::string_view digits, std::uint64_t line) {
    if (FFrameDigits == 0) {
        if (FOpen) {
            FPending = true;
            if (FInvalid) {
                Append(" "); // after a row as read, keep the digits apart from it
            }
            Append(digits);
        } else if (digits.size() > MaxLineBytes) {
            FQueue.PushLong(line, digits);
        } else {
            FQueue.Push(line, TCaptureKind::ckHex, digits);
        }
        return;
    }
    while (!digits.empty()) {
        if (!FPending) {
            FPending = true;
            FLine = line;
        }
        const std::size_t take = std::min(digits.size(), FFrameDigits - FText.size());
        FText.append(digits.substr(0, take));
        digits.remove_prefix(take);
        if (FText.size() == FFrameDigits) {
            Deliver();
        }
    }
}

void TFrameAssembler::AddUnreadable(std::string_view text, std::uint64_t line) {
    if (FPending || (FOpen && FFrameDigits == 0)) {
        if (!FPending) {
            FPending = true; // the group's first row
        }
        if (!FText.empty()) {
            Append(" ");
        }
        Append(text);
        FInvalid = true;
        if (FFrameDigits > 0) {
            Deliver(); // the cut is lost: the next frame starts after this row
        }
        return;
    }
    if (text.size() > MaxLineBytes) {
        FQueue.PushLong(line, text);
    } else {
        FQueue.Push(line, TCaptureKind::ckInvalid, text);
    }
}

void TFrameAssembler::AddLongUnreadable(std::string_view start, std::uint64_t line) {
    std::string text(LongTextStart(start));
    text += LongTextEllipsis;
    AddUnreadable(text, line);
}

// ---------------------------------------------------------------------------------------------

TValueRead ReadByteValue(std::string_view value, std::string& digits) {
    const std::size_t start = digits.size();
    bool any = false;
    std::size_t i = 0;
    while (i < value.size()) {
        if (IsBlankByte(value[i])) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < value.size() && !IsBlankByte(value[end])) {
            ++end;
        }
        const std::string_view token = value.substr(i, end - i);
        i = end;
        any = true;
        const bool prefixed = token.size() > 2 && token[0] == '0';
        if (prefixed && (token[1] == 'x' || token[1] == 'X')) {
            for (const char c : token.substr(2)) {
                if (!IsHexDigit(c)) {
                    digits.resize(start);
                    return TValueRead::vrNotNumber;
                }
            }
            digits.append(token.substr(2));
        } else if (prefixed && (token[1] == 'b' || token[1] == 'B')) {
            const std::string_view bits = token.substr(2);
            for (const char c : bits) {
                if (c != '0' && c != '1') {
                    digits.resize(start);
                    return TValueRead::vrNotNumber;
                }
            }
            // Whole bytes, the missing leading bits zero; four bits a digit.
            const std::size_t padded = (bits.size() + 7) / 8 * 8;
            unsigned nibble = 0;
            for (std::size_t k = 0; k < padded; ++k) {
                const std::size_t lead = padded - bits.size();
                const unsigned bit = k < lead ? 0U : static_cast<unsigned>(bits[k - lead] - '0');
                nibble = (nibble << 1) | bit;
                if (k % 4 == 3) {
                    digits.push_back(UpperHexDigits[nibble]);
                    nibble = 0;
                }
            }
        } else {
            unsigned number = 0;
            for (const char c : token) {
                if (c < '0' || c > '9') {
                    digits.resize(start);
                    return TValueRead::vrNotNumber;
                }
                number = number * 10 + static_cast<unsigned>(c - '0');
                if (number > 255) {
                    digits.resize(start);
                    return TValueRead::vrTooWide;
                }
            }
            digits.push_back(UpperHexDigits[number >> 4]);
            digits.push_back(UpperHexDigits[number & 15]);
        }
    }
    return any ? TValueRead::vrDigits : TValueRead::vrEmpty;
}

TValueRead ReadNumber(std::string_view value, std::uint64_t& number) {
    value = TrimBlanks(value);
    if (value.empty()) {
        return TValueRead::vrEmpty;
    }
    number = 0;
    const bool prefixed = value.size() > 2 && value[0] == '0';
    unsigned base = 10;
    if (prefixed && (value[1] == 'x' || value[1] == 'X')) {
        base = 16;
        value.remove_prefix(2);
    } else if (prefixed && (value[1] == 'b' || value[1] == 'B')) {
        base = 2;
        value.remove_prefix(2);
    }
    bool tooWide = false;
    for (const char c : value) {
        unsigned digit = 99;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        }
        if (digit >= base) {
            return TValueRead::vrNotNumber;
        }
        if (number > (std::numeric_limits<std::uint64_t>::max() - digit) / base) {
            tooWide = true; // keep looking: a later character may make it no number at all
        } else {
            number = number * base + digit;
        }
    }
    return tooWide ? TValueRead::vrTooWide : TValueRead::vrDigits;
}

TInputError NotNumberError(std::uint64_t line, std::string_view value) {
    std::string shown(LongTextStart(TrimBlanks(value)));
    if (shown.size() < TrimBlanks(value).size()) {
        shown += LongTextEllipsis;
    }
    return TInputError(line, "the value \"" + shown +
                                 "\" is not a number: the export was written in the ASCII "
                                 "radix; export it again in hexadecimal");
}
