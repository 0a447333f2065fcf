// SPDX-License-Identifier: Apache-2.0
#pragma once
// The program's own texts, as GBK byte strings (the UTF-8 form is in each comment): window
// captions and the status lines the album workflow shows.
// Fotaviq V1.0 - Quellan软件 - (免费+绿色)  (window caption (string table))
inline constexpr char sMainCaption[] = "Fotaviq V1.0 - Quellan\xC8\xED\xBC\xFE - (\xC3\xE2\xB7\xD1+\xC2\xCC\xC9\xAB)";
// 请输入相册视频所在页面：    (lbl1)
inline constexpr char sUrlLabel[] = "\xC7\xEB\xCA\xE4\xC8\xEB\xCF\xE0\xB2\xE1\xCA\xD3\xC6\xB5\xCB\xF9\xD4\xDA\xD2\xB3\xC3\xE6\xA3\xBA  ";
// 下载相册  (btnDownload)
inline constexpr char sDownloadButton[] = "\xCF\xC2\xD4\xD8\xCF\xE0\xB2\xE1";
// 欢迎使用Quellan软件  (mmStatus line 1)
inline constexpr char sWelcome[] = "\xBB\xB6\xD3\xAD\xCA\xB9\xD3\xC3Quellan\xC8\xED\xBC\xFE";
// -- Fotaviq  (mmStatus line 2)
inline constexpr char sProductLine[] = "-- Fotaviq";
// 官方网站：  (mmStatus line 4)
inline constexpr char sWebsiteLabel[] = "\xB9\xD9\xB7\xBD\xCD\xF8\xD5\xBE\xA3\xBA";
// 自动下载相册背景音乐     (chkAutoDownMusic)
inline constexpr char sAutoDownMusic[] = "\xD7\xD4\xB6\xAF\xCF\xC2\xD4\xD8\xCF\xE0\xB2\xE1\xB1\xB3\xBE\xB0\xD2\xF4\xC0\xD6   ";
// 停 止 下 载  (btn2)
inline constexpr char sStopButton[] = "\xCD\xA3 \xD6\xB9 \xCF\xC2 \xD4\xD8";
// 背景音乐文件地址：    (lbl2)
inline constexpr char sMusicLabel[] = "\xB1\xB3\xBE\xB0\xD2\xF4\xC0\xD6\xCE\xC4\xBC\xFE\xB5\xD8\xD6\xB7\xA3\xBA  ";
// 预览音乐  (btn1)
inline constexpr char sPlayMusicButton[] = "\xD4\xA4\xC0\xC0\xD2\xF4\xC0\xD6";
// 预览  (popup1 N1)
inline constexpr char sPreviewItem[] = "\xD4\xA4\xC0\xC0";
// 打开图片所在目录  (popup1 N3)
inline constexpr char sOpenFolderItem[] = "\xB4\xF2\xBF\xAA\xCD\xBC\xC6\xAC\xCB\xF9\xD4\xDA\xC4\xBF\xC2\xBC";
// 预览图片  (preview window caption)
inline constexpr char sPreviewCaption[] = "\xD4\xA4\xC0\xC0\xCD\xBC\xC6\xAC";
// 正在停止...  (stop button status)
inline constexpr char sStopping[] = "\xD5\xFD\xD4\xDA\xCD\xA3\xD6\xB9...";
// 正在下载: [%d/%d] - %s.jpg  (per-photo status (n+1, count, n))
inline constexpr char sDownloadingFmt[] = "\xD5\xFD\xD4\xDA\xCF\xC2\xD4\xD8: [%d/%d] - %s.jpg";
// 相册图片下载完毕  (all photos handled)
inline constexpr char sPhotosDone[] = "\xCF\xE0\xB2\xE1\xCD\xBC\xC6\xAC\xCF\xC2\xD4\xD8\xCD\xEA\xB1\xCF";
// 正在下载相册音乐,请稍候...  (music fetch starts)
inline constexpr char sMusicDownloading[] = "\xD5\xFD\xD4\xDA\xCF\xC2\xD4\xD8\xCF\xE0\xB2\xE1\xD2\xF4\xC0\xD6,\xC7\xEB\xC9\xD4\xBA\xF2...";
// 相册音乐下载完毕!  (music fetched)
inline constexpr char sMusicDone[] = "\xCF\xE0\xB2\xE1\xD2\xF4\xC0\xD6\xCF\xC2\xD4\xD8\xCD\xEA\xB1\xCF!";
// 该相册视频没有背景音乐  (edtBgmusic when the album has no music)
inline constexpr char sNoMusic[] = "\xB8\xC3\xCF\xE0\xB2\xE1\xCA\xD3\xC6\xB5\xC3\xBB\xD3\xD0\xB1\xB3\xBE\xB0\xD2\xF4\xC0\xD6";
// 处理完毕  (end of an album)
inline constexpr char sAllDone[] = "\xB4\xA6\xC0\xED\xCD\xEA\xB1\xCF";
// 正在获取相册信息...  (parser: fetching the data document)
inline constexpr char sFetchingInfo[] = "\xD5\xFD\xD4\xDA\xBB\xF1\xC8\xA1\xCF\xE0\xB2\xE1\xD0\xC5\xCF\xA2...";
// 成功获取到标题信息...  (parser: title found)
inline constexpr char sGotTitle[] = "\xB3\xC9\xB9\xA6\xBB\xF1\xC8\xA1\xB5\xBD\xB1\xEA\xCC\xE2\xD0\xC5\xCF\xA2...";
// 成功获取到背景音乐信息...  (parser: music found)
inline constexpr char sGotMusic[] = "\xB3\xC9\xB9\xA6\xBB\xF1\xC8\xA1\xB5\xBD\xB1\xB3\xBE\xB0\xD2\xF4\xC0\xD6\xD0\xC5\xCF\xA2...";
// 成功获取到相册图片信息...  (parser: one photo found)
inline constexpr char sGotPhoto[] = "\xB3\xC9\xB9\xA6\xBB\xF1\xC8\xA1\xB5\xBD\xCF\xE0\xB2\xE1\xCD\xBC\xC6\xAC\xD0\xC5\xCF\xA2...";
// 有 %d 张照片未能下载：第 %s 张  (photos missing at the end of an album: count, numbers)
inline constexpr char sPhotosMissingFmt[] =
    "\xD3\xD0 %d \xD5\xC5\xD5\xD5\xC6\xAC\xCE\xB4\xC4\xDC\xCF\xC2\xD4\xD8\xA3\xBA\xB5\xDA %s \xD5\xC5";
// 第 %d 张照片已损坏（%s），重新下载  (a photo found on disk failed its check: number, why)
inline constexpr char sPhotoBrokenFmt[] =
    "\xB5\xDA %d \xD5\xC5\xD5\xD5\xC6\xAC\xD2\xD1\xCB\xF0\xBB\xB5\xA3\xA8%s\xA3\xA9\xA3\xAC\xD6\xD8\xD0\xC2\xCF\xC2\xD4\xD8";
// 相册文件夹 %s 正由另一次下载写入，请等它结束后再试  (the album folder is locked by another run)
inline constexpr char sFolderBusyFmt[] =
    "\xCF\xE0\xB2\xE1\xCE\xC4\xBC\xFE\xBC\xD0 %s \xD5\xFD\xD3\xC9\xC1\xED\xD2\xBB\xB4\xCE\xCF\xC2\xD4\xD8\xD0\xB4\xC8\xEB"
    "\xA3\xAC\xC7\xEB\xB5\xC8\xCB\xFC\xBD\xE1\xCA\xF8\xBA\xF3\xD4\xD9\xCA\xD4";
// 、  (between the photo numbers of that line)
inline constexpr char sNumberSeparator[] = "\xA1\xA2";
