// The catalogue's texts as written: English in ASCII, Japanese in UTF-8 so
// that the source stays readable. The build turns every Japanese text into
// code page 932 once (tools/gen/catalogue_gen.cpp); the program only ever
// copies the converted bytes, declared at the end of this file.
#pragma once

struct CatalogueText {
  const char* name;
  const char* english;
  const char* japanese;  // UTF-8 here; code page 932 in the generated tables
};

// The messages of the catalogue, in the order catalogue.cpp fills them.
inline constexpr CatalogueText kCatalogueMessages[] = {
    {"MsgAlreadyUpdated", "The drive has already been updated.", "既に更新されています。"},
    {"MsgMayTakeMinutes",
     "Note: This may take several minutes. Even if there is no software activity for a long "
     "time, do not turn your computer off.",
     "注意：この作業は数分間かかります。長い間ソフトウエアが動作していなくても、コンピュータの電源"
     "を切らないでお待ち下さい。"},
    {"MsgRestartNow",
     "You must restart your computer to take effect all the changes.\r\nDou you want to restart "
     "your computer now?",
     "アップデートする為には再起動をしなければなりません。\r\n再起動しますか？"},
    {"MsgUpdateFailed",
     "Failed to update the firmware. Turn the power off PC,\r\nturn the power on PC and try it "
     "again.",
     "ファームウエアのアップデートが正常に終了しませんでした。\r\n一旦、ＰＣの電源を切り、立ち上げ"
     "直"
     "した後、再度プログラムを実行してください。"},
    {"MsgCloseApps", "Close all other applications and save all your editing documents now.",
     "他に現在実行中のアプリケーションがあれば、終了してください。\r\n編集中のドキュメントがあれば"
     "、"
     "保存してください。"},
    {"MsgNoDevice", "Error: No device could be detected.",
     "エラー：デバイスが検出されませんでした。"},
    {"MsgWrongFile", "Error: This drive could not be upgraded with the selected file.",
     "エラー：指定したファイルでこのドライブをアップグレードできません。"},
    {"MsgInvalidData", "Error: Invalid data was detected.", "エラー：異常データが検出されました。"},
    {"MsgReadFailed", "Error: Couldn't read data.", "エラー：データをファイルから読み込めません。"},
    {"MsgAccessFailed", "Error: Couldn't access the file.",
     "エラー：ファイルをアクセスできません。"},
    {"MsgBadSize", "Error: Invalid file size.", "エラー：ファイルサイズが異常です。"},
    {"MsgNoDataFile", "Error: Couldn't find data file.", "エラー：ファイルが見つかりません。"},
    {"MsgUpdateFailedDma",
     "Failed to update the firmware. Turn the power off PC,\r\nturn the power on PC and try it "
     "again.\r\nIf you enable DMA mode, please disable it and try to update again.",
     "ファームウエアのアップデートが正常に終了しませんでした。\r\n一旦、ＰＣの電源を切り、立ち上げ"
     "直"
     "した後、再度プログラムを実行してください。\r\nもし、DMA転送をお使いの場合、それを無効にしてか"
     "ら、再度実行してください。"},
    {"MsgRemoveCd", "Take CD off from a tray.", "ＣＤをトレイから取り出してください。"},
    {"MsgWarnNoAbort", "-DO NOT abort this program nor turn the power off PC during updating.\r\n",
     "－決して実行途中でプログラムを中止したり、コンピュータの電源を切らないで下さい。\r\n"},
    {"MsgWarnCloseApps", "-Closing all other applications before starting the operation.\r\n",
     "－操作を始める前に、全てのアプリケーションを終了してください。\r\n"},
    {"MsgWarnRemoveCd",
     "-Take CD off the VANTROS USB CD-R/RW drive before starting the operation.\r\n",
     "－操作を始める前に、ヴァントロスＵＳＢ　ＣＤ－Ｒ／ＲＷドライブからＣＤを取り出してください。"
     "\r\n"},
    {"MsgWarnPowerCycle",
     "-Your computer will be ready to be turned off or will be turned off after updating the "
     "firmware. Turn on the computer after that again.",
     "－プログラム終了後、コンピュータは自動的にシャットダウンするか、シャットダウン可能な状態とな"
     "り"
     "ます。その後、再度電源を入れなおしてください。"},
};
inline constexpr int kCatalogueMessageCount =
    static_cast<int>(sizeof kCatalogueMessages / sizeof kCatalogueMessages[0]);

// The labels of the agreement dialog's two choices (16-byte buffers).
inline constexpr CatalogueText kAgreementLabels[] = {
    {"AgreementLabelAccept", "Accept", "許諾する"},
    {"AgreementLabelDecline", "Do not Accept", "許諾しない"},
};
inline constexpr int kAgreementLabelCount = 2;

// Texts the update procedure picks itself where it shows them, in the order
// of the accessors of catalogue.h.
inline constexpr CatalogueText kUpdateTexts[] = {
    {"MsgFlashFailedRetry", "Error: Fale to update F/W. Please try again?",
     "エラー：書きこみに失敗しました。 もう一度実行しますか？"},
    {"MsgLoaderCmdRefused", "Error: Can't accept loader CMD!",
     "エラー：コマンドを送る事が出来ません。"},
    {"MsgDownloadCmdRefused", "Error: Can't accept download command",
     "エラー：コマンドを送る事が出来ません。"},
    {"MsgModelNotProper", "Error: Model is not proper!!", "エラー：モデルが正しくありません。"},
    {"MsgChecksumWrong",
     "Error: Check Sum is not correct!!\r\n       The data file may be damaged.",
     "エラー：チェックサムが正しくありません。\r\n    "
     "そのデータファイルは、壊れている可能性があります"
     "。"},
    {"MsgLoadSucceeded", "Succeed to load F/W!!", "ファームウェアのダウンロードに成功しました。"},
    {"MsgWarnUsbPower", "-DO NOT turn the power off the USB drive during updating.\r\n",
     "－決して実行途中で、USBドライブの電源を切らないで下さい。\r\n"},
};
inline constexpr int kUpdateTextCount = 7;

// This host's own texts, beside the system's: after the direct update asks
// for a shutdown that this host never carries out, the user turns the drive
// off and on and the program reads its revision again. "%s" stands for that
// revision. Last, the lines beside "no device" that say what the scan found:
// a drive there that might not be opened (Windows), then this host's (no sg
// node, nodes refused or held by another program, devices but none of
// ours; "%d" for how many). In the order of the accessors of catalogue.h.
inline constexpr CatalogueText kHostTexts[] = {
    {"MsgPowerCycleNow",
     "This computer is not shut down by the program. Turn the drive's power off and on (or "
     "unplug it and plug it in again), then press OK once the drive is back: the program then "
     "reads its firmware revision.",
     "このコンピュータはプログラムによってシャットダウンされません。ドライブの電源を一度切って"
     "から入れ直し（またはケーブルを抜いて差し直し）、ドライブが戻ったらＯＫを押してください。"
     "ファームウェアのリビジョンを確認します。"},
    {"MsgPowerCycleUpdated",
     "The drive now reports the package's firmware revision %s: the update took.",
     "ドライブはパッケージのファームウェアリビジョン %s を報告しています。アップデートは成功しま"
     "した。"},
    {"MsgPowerCycleStillOld",
     "The drive still reports its old firmware revision %s: the update did not take. Turn its "
     "power off and on once more and look again with quorvanta --list; if the revision stays "
     "old, run the update again.",
     "ドライブは古いファームウェアリビジョン %s のままです。アップデートは反映されませんでした。"
     "もう一度電源を切って入れ直し、quorvanta --list で確認してください。古いままなら、アップデ"
     "ートをやり直してください。"},
    {"MsgPowerCycleNotBack",
     "The drive did not come back within two minutes. Check that it is plugged in and switched "
     "on, then look for it with quorvanta --list: its revision there tells whether the update "
     "took.",
     "ドライブが２分以内に戻りませんでした。接続と電源を確認してから quorvanta --list でドライブ"
     "を探してください。そのリビジョンでアップデートの成否がわかります。"},
    {"MsgNoRightsToDrive",
     "A CD drive is there, but this program may not open it: reaching the drive needs "
     "administrator rights. Start the program again with \"Run as administrator\".",
     "ＣＤドライブはありますが、このプログラムには開く権限がありません。ドライブを操作するには"
     "管理者の権限が必要です。「管理者として実行」でプログラムを起動し直してください。"},
    {"MsgNoSgNode",
     "No SCSI generic device (/dev/sg*) is there: load the driver with \"modprobe sg\" (as "
     "root), and check that the drive is plugged in and switched on.",
     "ＳＣＳＩ汎用デバイス（/dev/sg*）がありません。root で「modprobe sg」を実行してドライバを"
     "読み込み、ドライブの接続と電源を確認してください。"},
    {"MsgDrivesRefused",
     "This user may not open the CD/DVD drives (%d refused): join the cdrom group and log in "
     "again, or start the program in the desktop session at this computer's own screen.",
     "このユーザーにはＣＤ／ＤＶＤドライブを開く権限がありません（%d 台）。cdrom グループに参加し"
     "てログインし直すか、このコンピュータの画面のデスクトップセッションからプログラムを起動して"
     "ください。"},
    {"MsgDrivesBusy",
     "Another program holds the CD/DVD drives (%d busy): end it, then start this program again.",
     "ＣＤ／ＤＶＤドライブを他のプログラムが使用中です（%d 台）。そのプログラムを終了してから、"
     "このプログラムを起動し直してください。"},
    {"MsgNoVantrosDrive",
     "SCSI devices found: %d, none of them a VANTROS drive: check that the drive is plugged in "
     "and switched on.",
     "ＳＣＳＩデバイスが %d 台見つかりましたが、VANTROS のドライブはありません。ドライブの接続と"
     "電源を確認してください。"},
};
inline constexpr int kHostTextCount = 9;

// This host's texts for a start without a firmware package: the title of
// the folder chooser (desktop), the one-line question (terminal), and the
// line under "Couldn't find data file." that names the folder searched
// ("%s"), and what was wrong with a folder answered (named by "%s"): asked
// again. In the order of the accessors of catalogue.h.
inline constexpr CatalogueText kPackageFolderTexts[] = {
    {"MsgChoosePackageFolder", "Choose the folder of the firmware package (Tellumar.inf)",
     "ファームウェアパッケージ（Tellumar.inf）のフォルダを選んでください"},
    {"MsgPackageFolderPrompt", "Folder of the firmware package (Tellumar.inf)",
     "ファームウェアパッケージ（Tellumar.inf）のフォルダ"},
    {"MsgFolderSearched", "Folder searched: %s", "検索したフォルダ：%s"},
    {"MsgNoSuchFolder", "There is no folder %s.", "フォルダ %s はありません。"},
    {"MsgNoPackageInFolder", "There is no Tellumar.inf in %s.",
     "%s には Tellumar.inf がありません。"},
};
inline constexpr int kPackageFolderTextCount = 5;

// The agreement: one display line per entry; a blank separator line holds a
// single blank. English lines are at most 45 characters, Japanese lines at
// most 38 bytes once in code page 932.
inline constexpr int kEnglishAgreementLines = 96;
inline constexpr int kJapaneseAgreementLines = 91;

inline constexpr const char* kEnglishAgreement[kEnglishAgreementLines] = {
    "This program upgrades the firmware of the",
    "CD-R/RW drive products of VANTROS. Use of",
    "this program is subject to the License",
    "Agreement below.",
    " ",
    "Read the whole agreement below with the",
    "scroll bar. If you agree to its terms, press",
    "\"Accept\". If you do not agree, press \"Do not",
    "Accept\"; the program then ends without",
    "changing your drive.",
    " ",
    "END USER LICENSE AGREEMENT",
    " ",
    "NOTICE TO USER: This agreement is a legal",
    "contract between you and VANTROS. By",
    "indicating your acceptance below, you accept",
    "all of its terms and conditions. \"Software\"",
    "means this firmware upgrade program, the",
    "firmware data and any documentation supplied",
    "with them. \"You\" means the person or the",
    "organisation that installs or uses the",
    "Software.",
    " ",
    "1. GRANT OF LICENSE",
    "VANTROS grants You a non-exclusive license to",
    "use the Software only to upgrade the firmware",
    "of the VANTROS CD-R/RW drives that You own or",
    "lawfully use. You may make copies of the",
    "Software only for use with those drives and",
    "one copy for backup purposes. All rights not",
    "expressly granted to You are reserved by",
    "VANTROS.",
    " ",
    "2. OWNERSHIP",
    "The Software is owned by VANTROS and its",
    "suppliers and is protected by copyright laws",
    "and international treaty provisions. Every",
    "copy You make must carry the same copyright",
    "and other proprietary notices as the",
    "original. You may not modify, adapt,",
    "translate, decompile, disassemble or",
    "otherwise reverse engineer the Software,",
    "except to the extent that the applicable law",
    "expressly permits it.",
    " ",
    "3. TRANSFER",
    "You may not rent, lease or lend the Software.",
    "You may transfer Your rights under this",
    "agreement only as a whole, together with the",
    "Software, all of its copies and all",
    "documentation, and only if the recipient",
    "agrees to the terms of this agreement. When",
    "You transfer the Software, Your own license",
    "ends and You must not keep any copy of it.",
    " ",
    "4. LIMITED WARRANTY",
    "You use the Software at Your own risk. The",
    "Software is provided \"AS IS\" without warranty",
    "of any kind, either express or implied,",
    "including warranties of merchantability and",
    "fitness for a particular purpose. In no event",
    "shall VANTROS or its suppliers be liable for",
    "any consequential, incidental, special or",
    "indirect damages, including loss of data,",
    "loss of business profits or business",
    "interruption, arising out of the use of or",
    "the inability to use the Software, even if",
    "VANTROS has been advised of the possibility",
    "of such damages. Some jurisdictions do not",
    "allow the exclusion of implied warranties or",
    "the limitation of liability for incidental or",
    "consequential damages, so the above",
    "limitations may not apply to You. In any case",
    "the entire liability of VANTROS shall not",
    "exceed the amount You paid for the Software.",
    " ",
    "5. WARNING",
    "5.1 DO NOT abort this program nor turn the",
    "    power of the PC off while the firmware is",
    "    being updated. An interrupted update can",
    "    leave the drive unusable until it is",
    "    repaired.",
    "5.2 Close all other applications and save",
    "    Your documents before starting the",
    "    update.",
    "5.3 Take the CD out of the drive before",
    "    starting the update.",
    " ",
    "6. GOVERNING LAW",
    "This agreement is governed by the laws of",
    "Japan. If any part of it is held invalid, the",
    "rest of it remains in force. This agreement",
    "is the entire agreement between You and",
    "VANTROS concerning the Software. If You have",
    "any questions about it, please contact",
    "VANTROS.",
};

inline constexpr const char* kJapaneseAgreement[kJapaneseAgreementLines] = {
    "このプログラムは、ヴァントロス製ＣＤ－",
    "Ｒ／ＲＷドライブ製品のファームウエアを",
    "アップグレードするものです。本プログラ",
    "ムのご使用には、以下の使用許諾契約書が",
    "適用されます。",
    " ",
    "スクロールバーを使って以下の契約書を最",
    "後までお読みください。契約の条件に同意",
    "される場合は「許諾する」を、同意されな",
    "い場合は「許諾しない」を押してくださ",
    "い。「許諾しない」を押すと、ドライブを",
    "変更せずにプログラムを終了します。",
    " ",
    "エンドユーザー使用許諾契約書",
    " ",
    "お客様へのご注意：本契約は、お客様と",
    "ヴァントロスとの間の法的な契約です。お",
    "客様は、以下で許諾の意思を示すことによ",
    "り、本契約のすべての条項に同意したもの",
    "とみなされます。「本ソフトウエア」と",
    "は、このファームウエアアップグレードプ",
    "ログラム、ファームウエアデータ及びそれ",
    "らに添付された文書をいいます。「お客",
    "様」とは、本ソフトウエアを使用する個人",
    "又は法人をいいます。",
    " ",
    "第１条　使用許諾",
    "ヴァントロスはお客様に対し、お客様が所",
    "有するヴァントロス製ＣＤ－Ｒ／ＲＷドラ",
    "イブのファームウエアをアップグレードす",
    "る目的に限り、本ソフトウエアを使用する",
    "非独占的な権利を許諾します。お客様は、",
    "それらのドライブで使用するため及びバッ",
    "クアップのためにのみ、本ソフトウエアを",
    "複製することができます。本契約で明示的",
    "に許諾されていない権利は、すべてヴァン",
    "トロスに留保されます。",
    " ",
    "第２条　著作権",
    "本ソフトウエアの著作権その他の権利は、",
    "ヴァントロス及びその供給者に帰属し、著",
    "作権法及び国際条約により保護されていま",
    "す。複製物には原本と同じ著作権表示を付",
    "してください。本ソフトウエアの改変、逆",
    "コンパイル、逆アセンブル、その他のリ",
    "バースエンジニアリングを行うことはでき",
    "ません。",
    " ",
    "第３条　譲渡",
    "本ソフトウエアを賃貸又は貸与することは",
    "できません。本契約上の権利は、本ソフト",
    "ウエア、そのすべての複製物及び文書と共",
    "に、そのすべてを譲渡する場合に限り、譲",
    "受人が本契約に同意することを条件として",
    "譲渡することができます。本ソフトウエア",
    "を譲渡した場合、お客様の使用権は終了",
    "し、その複製物を保持することはできませ",
    "ん。",
    " ",
    "第４条　限定保証",
    "本ソフトウエアは、お客様ご自身の責任に",
    "おいてご使用ください。本ソフトウエアは",
    "現状のまま提供され、明示又は黙示を問わ",
    "ず、商品性及び特定目的への適合性を含",
    "め、いかなる保証も行いません。ヴァント",
    "ロス及びその供給者は、本ソフトウエアの",
    "使用又は使用不能により生じたデータの消",
    "失、逸失利益その他のいかなる派生的、付",
    "随的又は間接的な損害についても、一切責",
    "任を負いません。いかなる場合も、ヴァン",
    "トロスの責任は、お客様が本ソフトウエア",
    "に支払った金額を上限とします。",
    " ",
    "第５条　警告",
    "５．１　アップデート中は、決してプログ",
    "　　　　ラムを中止したり、コンピュータ",
    "　　　　の電源を切らないでください。中",
    "　　　　断されたドライブは修理が必要に",
    "　　　　なる場合があります。",
    "５．２　操作を始める前に、他のすべての",
    "　　　　アプリケーションを終了してくだ",
    "　　　　さい。",
    "５．３　操作を始める前に、ドライブから",
    "　　　　ＣＤを取り出してください。",
    " ",
    "第６条　準拠法",
    "本契約は日本国法に準拠し、日本国法に従",
    "って解釈されるものとします。本契約の一",
    "部が無効とされた場合でも、その他の部分",
    "は引き続き有効に存続します。ご質問は",
    "ヴァントロスまでお問い合わせください。",
};

// Code page 932 forms of the Japanese texts above, index for index; defined
// in the generated catalogue_cp932.cpp.
extern const char* const kCatalogueMessagesCp932[kCatalogueMessageCount];
extern const char* const kAgreementLabelsCp932[kAgreementLabelCount];
extern const char* const kUpdateTextsCp932[kUpdateTextCount];
extern const char* const kHostTextsCp932[kHostTextCount];
extern const char* const kPackageFolderTextsCp932[kPackageFolderTextCount];
extern const char* const kJapaneseAgreementCp932[kJapaneseAgreementLines];
