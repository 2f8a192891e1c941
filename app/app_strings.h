// Fixed texts of the program: caption, About box lines.
#pragma once

#if __has_include("vurma_version.h")
#include "vurma_version.h"
#endif

#include "analysis/ui_text.h"

namespace vurma::app {

inline constexpr char kStrCaption[] = "Vurma";
#ifdef VURMA_LEGAL_COPYRIGHT
inline constexpr char kStrNotice[] = VURMA_LEGAL_COPYRIGHT;
#else
inline constexpr char kStrNotice[] = "Copyright (C) 2026 The Vurma developers";
#endif
#ifdef VURMA_VERSION_STRING
inline constexpr char kStrVersion[] = VURMA_VERSION_STRING;
#else
inline constexpr char kStrVersion[] = "0.0.2";
#endif
// The project's web address; empty (and not shown) while it has none.
#ifdef VURMA_HOMEPAGE
inline constexpr char kStrUrl[] = VURMA_HOMEPAGE;
#else
inline constexpr char kStrUrl[] = "";
#endif

// Shown when playback breaks off with an error instead of reaching the end.
inline constexpr char kMsgCannotProcess[] = UI_TEXT("このﾌｧｲﾙは処理できません。  ");
inline constexpr char kMsgPlaybackError[] = UI_TEXT("ﾌｧｲﾙの読み込み中にｴﾗｰが発生しました。  ");

inline constexpr char kIconPath[] = ":/icons/vurma-256.png";
inline constexpr char kCursorOpenPath[] = ":/cursors/hand-open.png";
inline constexpr char kCursorClosedPath[] = ":/cursors/hand-closed.png";

}  // namespace vurma::app
