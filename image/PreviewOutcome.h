// What reading a document's stored preview into a PreviewSink came to. A reader returns it and
// it travels unchanged to the provider, the one place that turns it into the host's answer.
#pragma once

namespace tarn {

enum class PreviewOutcome {
    NotThisKind,  // the stream is not a document of the reader's format
    NoPreview,    // a document without a preview to read: metadata unreadable, no preview
                  // stored, a size refused, or the sink refused it (PreviewSink::Refusal)
    Malformed,    // a stream or page failure, or a malformed pixel blob: the reader reported
                  // it (the message box) and the sink has nothing
    Undecodable,  // the pixel blob cannot be decoded (unknown coding, no memory, a zstd error):
                  // the sink has nothing (Discard came if anything had started)
    Delivered,    // every row delivered
    NoMemory,     // the sink had no memory for the preview (PreviewSink::Refusal)
};

}  // namespace tarn
