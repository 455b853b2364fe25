#pragma once
// Every text the manager shows a person: its window, menus, buttons, tray
// menu, dialogs and message boxes, the packer dialog included. Kept in UTF-8
// here and used exactly as written: people who know the program find its
// commands by these words, and the tests compare them byte for byte. A
// translation of the program starts from this file alone.

namespace velmar::manager_text {

// The main window.
inline constexpr char kCaption[] = "Velmar 1.5";
inline constexpr char kColumnHeaders[5][16] = {"脚本", "最新消息", "成功", "失败", "状态"};
inline constexpr char kTrayTip[] = "%1 Scripts";  // the number of scripts in the list

// The menus of the menu bar.
inline constexpr char kFileMenu[] = "文件(&F)";
inline constexpr char kToolsMenu[] = "工具(&T)";
inline constexpr char kHelpMenu[] = "帮助(&H)";

// The commands, as the menus show them (with their access keys) and, where
// a command has a button, as the button shows it.
inline constexpr char kAddScript[] = "添加脚本(&A)";
inline constexpr char kAddScriptButton[] = "添加脚本";
inline constexpr char kDeleteScript[] = "删除脚本(&D)";
inline constexpr char kDeleteScriptButton[] = "删除脚本";
inline constexpr char kDeleteAll[] = "删除所有";
inline constexpr char kExportProject[] = "导出脚本(&E)";
inline constexpr char kExportProjectButton[] = "导出脚本";
inline constexpr char kImportProject[] = "导入脚本(&I)";
inline constexpr char kImportProjectButton[] = "导入脚本";
inline constexpr char kRunScript[] = "执行脚本(&R)";
inline constexpr char kRunScriptButton[] = "执行脚本";
inline constexpr char kPauseScript[] = "暂停执行(&P)";
inline constexpr char kPauseScriptButton[] = "暂停执行";
inline constexpr char kStopScript[] = "停止退出(&S)";
inline constexpr char kStopScriptButton[] = "停止退出";
inline constexpr char kReloadScript[] = "重新加载";
inline constexpr char kRunAgain[] = "重新执行(&G)";
inline constexpr char kRunAgainButton[] = "重新执行";
inline constexpr char kStopAll[] = "全部停止(&T)";
inline constexpr char kErrorDetails[] = "错误详情(&W)";
inline constexpr char kExit[] = "退出(&Q)";
inline constexpr char kSettings[] = "参数配置(&C)..";
inline constexpr char kRegexTest[] = "正则表达式测试(&R)";
inline constexpr char kPacker[] = "脚本打包器(&P)";
inline constexpr char kManual[] = "使用手册(&U)";
// The tray menu has always named the manual so.
inline constexpr char kManualInTray[] = "帮助(&H)";
inline constexpr char kWebSite[] = "在线讨论(&B)..";
inline constexpr char kAbout[] = "&About Tamarind...";
inline constexpr char kShowMain[] = "显示主界面(&S)";

// Message boxes and the status bar of the main window.
inline constexpr char kExitRefused[] = "仍有线程在运行中，请先停止再退出．";
// The refusal box's second button: stops every script, waits, exits.
inline constexpr char kStopAllAndExit[] = "全部停止并退出";
inline constexpr char kStillRunning[] = "脚本 \"%1\" 正在运行，执行命令对它不起作用．";
inline constexpr char kRunAgainHint[] = " 已结束的脚本可用“重新执行”再次运行．";
inline constexpr char kNoError[] = "该脚本没有出错．";
inline constexpr char kNotAddedFiles[] = "以下项目不是可读的脚本文件，未添加:\n";
inline constexpr char kProjectFieldRefused[] =
    "第 %1 行的脚本 \"%2\" 的名称、路径或参数含有 ^ 或换行，无法保存到项目文件．";
inline constexpr char kManualMissing[] = "找不到使用手册 (share/velmar/manual/index.html)．";
inline constexpr char kPackerMissing[] = "脚本打包器未安装．";
inline constexpr char kAboutTitle[] = "About Tamarind";
inline constexpr char kVersionPrefix[] = "版本 ";
inline constexpr char kKeptListDamaged[] =
    "脚本列表 %1 已损坏，已另存为 %2；能读出的 %3 个脚本已载入．";
inline constexpr char kKeptListUnsaved[] = "脚本列表无法保存到 %1．";
inline constexpr char kKeptListRefused[] =
    "%1 个脚本的名称、路径或参数含有 ^ 或换行，未保存在脚本列表中．";
inline constexpr char kProjectFilter[] = "Tamarind Project (*.tmpro);;All (*.*)";
inline constexpr char kScriptFilter[] = "Tamarind Script (*.vlm);;All (*.*)";
inline constexpr char kBootFilter[] = "Tamarind Script (*.vlm);;Velmar.boot (*.boot);;All (*.*)";

// Buttons several dialogs share.
inline constexpr char kBrowse[] = "浏览..";
inline constexpr char kOk[] = "确定";
inline constexpr char kCancel[] = "取消";
inline constexpr char kClose[] = "关闭";

// The add dialog.
inline constexpr char kAddTitle[] = "添加资源..";
inline constexpr char kAddName[] = "脚本名称:";
inline constexpr char kAddPath[] = "选择脚本:";
inline constexpr char kAddParam[] = "参数:";

// The regular-expression tester.
inline constexpr char kTesterTitle[] = "正则表达式测试";
inline constexpr char kTesterRun[] = "测试";
inline constexpr char kTesterText[] = "内容";
inline constexpr char kTesterPattern[] = "正则表达式";
inline constexpr char kTesterResult[] = "匹配结果";

// The settings dialog.
inline constexpr char kSettingsTitle[] = "参数配置";
inline constexpr char kSystemPage[] = "系统";
inline constexpr char kRunPage[] = "运行";
inline constexpr char kBossKey[] = "老板键";
inline constexpr char kCurrentKey[] = "当前热键";
inline constexpr char kChangeKey[] = "更改热键";
inline constexpr char kMinimizeToTray[] = "最小化时到托盘";
inline constexpr char kCloseToTray[] = "关闭时到托盘";
inline constexpr char kHideAll[] = "关闭时全部隐藏, 必需以老板键才能调出";
inline constexpr char kUseProxy[] = "默认使用代理";
inline constexpr char kUseTimeouts[] = "默认限制超时";
inline constexpr char kBrowser[] = "模拟:";
inline constexpr char kLanguage[] = "发送语言:";
inline constexpr char kProxyPort[] = "端口:";
inline constexpr char kProxyIp[] = "代理IP:";
inline constexpr char kSendTimeout[] = "发送超时:";
inline constexpr char kRecvTimeout[] = "接收超时:";
inline constexpr char kTimeoutUnit[] = "(单位:毫秒/ms)";

// The packer dialog.
inline constexpr char kPackerCaption[] = "脚本打包器";
inline constexpr char kPackArchive[] = "同时生成 .tar.gz 压缩包";
inline constexpr char kPackButton[] = "打包";
inline constexpr char kPackAppNameHint[] = "(主脚本的名称)";
inline constexpr char kPackHomepageHint[] = "(不设主页)";
inline constexpr char kPackBootHint[] = "(main.vlm 或唯一的脚本)";
inline constexpr char kPackScriptFolder[] = "脚本文件夹:";
inline constexpr char kPackOutputFolder[] = "输出文件夹:";
inline constexpr char kPackBoot[] = "启动脚本:";
inline constexpr char kPackAppName[] = "应用名称:";
inline constexpr char kPackHomepage[] = "主页:";
inline constexpr char kPackHotKey[] = "热键:";
inline constexpr char kPackChooseBoot[] = "选择启动脚本";
inline constexpr char kPackChooseScripts[] = "选择脚本文件夹";
inline constexpr char kPackChooseOutput[] = "选择输出文件夹";
inline constexpr char kPackDone[] = "打包完成: %1";
inline constexpr char kPackArchiveDone[] = "\n压缩包: %1";
inline constexpr char kPackFailed[] = "打包失败:";
inline constexpr char kPackChooseMain[] = "\n请在“启动脚本”中选择要启动的脚本．";
inline constexpr char kPackWarnings[] = "\n\n请注意:";

// Recorded runs: the row's switch, its viewer and what they say.
inline constexpr char kRecordRun[] = "记录运行(&L)";
inline constexpr char kViewLastRun[] = "查看上次运行(&V)";
// The tip of a recording row's name.
inline constexpr char kRecordsTip[] = "每次运行都记录在 %1";
inline constexpr char kRecordFromNextRun[] = "脚本 \"%1\" 正在运行，记录开关从下次运行起生效．";
inline constexpr char kNotRecording[] = "无法记录运行: %1";
inline constexpr char kTraceViewerCaption[] = "运行记录";
inline constexpr char kTraceViewerTitle[] = "运行记录 - %1 (%2)";  // script name, trace file
inline constexpr char kTraceMissing[] = "脚本 \"%1\" 的运行记录 %2 已不存在 (可能已被删除)．";
inline constexpr char kTraceUnreadable[] = "脚本 \"%1\" 的运行记录无法读取:\n%2";
inline constexpr char kTraceLoading[] = "正在读取运行记录 %1 ...";
inline constexpr char kTraceDamaged[] = "运行记录 %1 中有 %2 行无法读取，其余已显示．";

// The help of the command line (--help, and after a usage error).
inline constexpr char kUsage[] =
    "usage: tamarind [--home DIR [--create-home]]\n"
    "       tamarind --help | --version\n"
    "\n"
    "The script manager: lists the scripts you add, runs, pauses, stops and\n"
    "reloads them, and keeps projects, settings, the tray icon and the hot key.\n"
    "  --home DIR      the home folder (else VELMAR_HOME, the program's folder\n"
    "                  when it holds Script/ or Config.ini, or\n"
    "                  $XDG_DATA_HOME/velmar); it must exist\n"
    "  --create-home   make the --home folder when it does not exist\n"
    "exit status: 0 when the manager was quit, 2 for a usage error or no\n"
    "display.\n";

}  // namespace velmar::manager_text
