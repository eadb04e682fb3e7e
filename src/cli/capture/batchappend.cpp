#include "capture/batchappend.h"

#include "capture/textutil.h"

#include <algorithm>

TCaptureFrame& AppendFrame(TCaptureBatch& batch, std::uint64_t line, TCaptureKind kind,
                           std::string_view input, const TFrameData& data) {
    TCaptureFrame& frame = batch.Frames.emplace_back();
    frame.Line = line;
    frame.Kind = kind;
    frame.InputOffset = static_cast<std::uint32_t>(batch.Text.size());
    frame.InputSize = static_cast<std::uint32_t>(input.size());
    frame.Data = data;
    batch.Text.append(input);
    return frame;
}

TCaptureFrame& AppendLongFrame(TCaptureBatch& batch, std::uint64_t line, std::string_view start) {
    const std::string_view kept = LongTextStart(start);
    TCaptureFrame& frame = AppendFrame(batch, line, TCaptureKind::ckInvalid, kept);
    batch.Text.append(LongTextEllipsis);
    frame.InputSize += static_cast<std::uint32_t>(LongTextEllipsis.size());
    return frame;
}

void TFrameQueue::MoveTo(TCaptureBatch& batch, std::size_t limit, std::size_t textLimit) {
    while (FHead < FPending.Frames.size() && BatchHasRoom(batch, limit, textLimit)) {
        const TCaptureFrame& frame = FPending.Frames[FHead++];
        AppendFrame(batch, frame.Line, frame.Kind, FPending.Input(frame), frame.Data);
    }
    if (FHead == FPending.Frames.size()) {
        FPending.Clear();
        FHead = 0;
    }
}

void TBatchWriter::Flush() {
    FBatch->Frames.insert(FBatch->Frames.end(), FFrames.get(), FFrames.get() + FCount);
    FBatch->Text.append(FText.get(), FUsed);
    FFramesBefore += FCount;
    FTextStart += FUsed;
    FCount = 0;
    FUsed = 0;
}

// ---------------------------------------------------------------------------------------------
// Frames out of runs of digits.

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
