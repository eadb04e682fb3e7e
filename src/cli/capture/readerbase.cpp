#include "capture/readerbase.h"

std::string_view WantedColumn(const TReaderOptions& options) {
    return options.Column.empty() ? std::string_view("miso") : std::string_view(options.Column);
}

TNumberRead ReadByteValue(std::string_view value, std::string& digits) {
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
                    return TNumberRead::nrNotNumber;
                }
            }
            digits.append(token.substr(2));
        } else if (prefixed && (token[1] == 'b' || token[1] == 'B')) {
            const std::string_view bits = token.substr(2);
            for (const char c : bits) {
                if (c != '0' && c != '1') {
                    digits.resize(start);
                    return TNumberRead::nrNotNumber;
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
                    return TNumberRead::nrNotNumber;
                }
                number = number * 10 + static_cast<unsigned>(c - '0');
                if (number > 255) {
                    digits.resize(start);
                    return TNumberRead::nrTooWide;
                }
            }
            digits.push_back(UpperHexDigits[number >> 4]);
            digits.push_back(UpperHexDigits[number & 15]);
        }
    }
    return any ? TNumberRead::nrNumber : TNumberRead::nrEmpty;
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

bool TQueuedReader::ReadBatch(TCaptureBatch& batch, std::size_t maxFrames) {
    const std::size_t before = batch.Frames.size();
    const std::size_t limit = before + std::min(maxFrames, SIZE_MAX - before);
    const std::size_t textLimit = batch.Text.size() + MaxBatchTextBytes;
    for (;;) {
        FQueue.MoveTo(batch, limit, textLimit);
        const bool full = batch.Frames.size() >= limit || batch.Text.size() >= textLimit;
        if (full || FEnded) {
            break;
        }
        FLines.SetPauseAllowed(batch.Frames.size() > before);
        if (!ReadRow()) {
            if (FLines.Paused()) {
                break; // a live input is quiet: hand on what was read
            }
            FEnded = true; // before Finish: a TInputError thrown there is not thrown twice
            Finish();
            FAssembler.Finish();
        }
    }
    batch.BytesConsumed = FLines.BytesConsumed();
    return batch.Frames.size() > before;
}


// Reads the header row into FHeaderNames; false for an empty input.
bool TCsvExportReader::ReadHeader(const char* what) {
    TCsvRecord header;
    if (!FRecords.Next(header)) {
        FEnded = true;
        return false;
    }
    FHeaderLine = header.Line;
    if (header.TooLong || header.Unterminated) {
        throw TInputError(header.Line, std::string("the header row of the ") + what +
                                           " cannot be read: it is overlong or a quote is never closed");
    }
    FRecords.SetDelimiter(DetectCsvDelimiter(header.Raw));
    FRecords.Resplit(header);
    FHeaderNames.assign(header.Fields.begin(), header.Fields.end());
    return true;
}

// The index of a column the format needs; throws when the header lacks it.
std::size_t TCsvExportReader::NeedColumn(std::string_view name, const char* what, bool chosen) const {
    std::vector<std::string_view> names(FHeaderNames.begin(), FHeaderNames.end());
    const int index = FindColumn(names, name);
    if (index < 0) {
        std::string message = std::string("the header of the ") + what + " has no column \"" +
                              std::string(name) + "\"; its columns are " + ListColumns(names);
        if (chosen) {
            message += "; choose one with --column";
        }
        throw TInputError(FHeaderLine, message);
    }
    return static_cast<std::size_t>(index);
}

// Reads a row's data value into the assembler.
void TCsvExportReader::AddValue(std::string_view value) {
    FDigits.clear();
    switch (ReadByteValue(value, FDigits)) {
    case TNumberRead::nrNumber:
        FAssembler.AddDigits(FDigits, FRecord.Line);
        break;
    case TNumberRead::nrEmpty:
        FAssembler.AddUnreadable(FRecord.Raw, FRecord.Line);
        break;
    case TNumberRead::nrNotNumber:
        throw NotNumberError(FRecord.Line, value);
    case TNumberRead::nrTooWide:
        throw TInputError(FRecord.Line, "the decimal value \"" + std::string(LongTextStart(TrimBlanks(value))) +
                                            "\" is wider than a byte and its width is not written; "
                                            "export it again in hexadecimal");
    }
}

// Reads the next record; an unreadable one goes to the assembler, a readable one to
// ReadFields. The exports write every column in every row, so a row with fewer fields
// than the header was cut or damaged.
bool TCsvExportReader::ReadRow() {
    if (!FRecords.Next(FRecord)) {
        return false;
    }
    if (FRecord.TooLong) {
        FAssembler.AddLongUnreadable(FRecord.Raw, FRecord.Line);
    } else if (FRecord.Unterminated || FRecord.Fields.size() < FHeaderNames.size()) {
        FAssembler.AddUnreadable(FRecord.Raw, FRecord.Line);
    } else {
        ReadFields();
    }
    return true;
}


bool AppendHexWords(std::string_view text, std::string& digits) {
    bool any = false;
    for (const char c : text) {
        if (IsHexDigit(c)) {
            digits.push_back(c);
            any = true;
        } else if (!IsBlankByte(c)) {
            return false;
        }
    }
    return any;
}

bool TQueuedReader::NextLine(TTextLine& line) {
    TLinePiece piece;
    for (;;) {
        if (!FLines.Next(piece)) {
            return false;
        }
        if (piece.First && piece.Last && piece.Text.size() <= MaxLineBytes) {
            line = {piece.Text, piece.Line, false};
            return true;
        }
        // A long line comes in pieces: keep its start, skip the rest.
        if (piece.First) {
            FLongText.assign(LongTextStart(piece.Text));
            FLongText += LongTextEllipsis;
            line.Line = piece.Line;
        }
        if (piece.Last) {
            line.Text = FLongText;
            line.TooLong = true;
            return true;
        }
    }
}
