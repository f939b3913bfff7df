// The page-store (.kwb) reader: a document stream's stored preview, pushed into a sink band by
// band, never held whole.
#pragma once

#include "image/PreviewOutcome.h"
#include "image/PreviewSink.h"
#include "platform/Platform.h"

// NotThisKind unless the stream starts with "hzd" and a version byte of at most 1 (taken as
// signed). Malformed, after the message box, for a failure of the runtime-error family (stream,
// pages, a malformed pixel blob): the sink then has nothing. Otherwise what LoadPreview came to.
tarn::PreviewOutcome ReadPageStorePreview(tarn::PreviewSink& sink, IStream* stream);
