<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP" sourcelanguage="en">
<context>
    <name>plistable::gui::Localization</name>
    <message>
        <source>Choose a folder for the converted files</source>
        <translation>変換したファイルを保存するフォルダを選んでください</translation>
    </message>
    <message>
        <source>Save Here</source>
        <translation>ここに保存</translation>
    </message>
    <message>
        <source>plistable</source>
        <translation>plistable（表の変換）</translation>
    </message>
    <message>
        <source>First line is a header</source>
        <translation>1 行目を見出しとして扱う</translation>
    </message>
    <message>
        <source>Open files…</source>
        <translation>ファイルを開く…</translation>
    </message>
    <message>
        <source>Choose files to convert</source>
        <translation>変換するファイルを選んでください</translation>
    </message>
    <message>
        <source>Tables (*.csv *.plist);;All files (*)</source>
        <translation>表 (*.csv *.plist);;すべてのファイル (*)</translation>
    </message>
    <message>
        <source>Drop .csv or .plist files here</source>
        <translation>ここに .csv または .plist ファイルをドロップしてください</translation>
    </message>
    <message>
        <source>Drop files or open them; you choose where the results go.</source>
        <translation>ファイルをドロップするか開いてください。変換結果の保存先はこのあと選べます。</translation>
    </message>
    <message>
        <source>Converting %1 file(s) into %2 …</source>
        <translation>%1 個のファイルを %2 に変換しています…</translation>
    </message>
    <message>
        <source>Nothing converted: no folder was chosen.</source>
        <translation>フォルダが選ばれなかったため、何も変換していません。</translation>
    </message>
    <message>
        <source>Nothing to convert.</source>
        <translation>変換するものがありません。</translation>
    </message>
    <message>
        <source>Wrote %1 of %2 files to %3</source>
        <translation>%2 個中 %1 個のファイルを %3 に書き出しました</translation>
    </message>
    <message>
        <source>%1 with problems</source>
        <translation>問題あり %1 個</translation>
    </message>
    <message>
        <source>%1 passed over</source>
        <translation>対象外 %1 個</translation>
    </message>
    <message>
        <source>%1 cancelled</source>
        <translation>キャンセル %1 個</translation>
    </message>
    <message>
        <source>… and %1 more (hover to see all)</source>
        <translation>…ほか %1 件（ポインタを重ねるとすべて表示）</translation>
    </message>
</context>
<context>
    <name>plistable::gui::MainWindow</name>
    <message>
        <source>Convert the files</source>
        <translation>ファイルとして変換する</translation>
    </message>
    <message>
        <source>CSV files (*.csv)</source>
        <translation>CSV ファイル (*.csv)</translation>
    </message>
    <message>
        <source>%1 holds an app's localization files.</source>
        <translation>%1 にはアプリのローカライズ用ファイルがあります。</translation>
    </message>
    <message>
        <source>Export localization table…</source>
        <translation>ローカライズ表を書き出す…</translation>
    </message>
    <message>
        <source>%1 is a localization table.</source>
        <translation>%1 はローカライズ表です。</translation>
    </message>
    <message>
        <source>Import into…</source>
        <translation>取り込む…</translation>
    </message>
    <message>
        <source>Save the localization table</source>
        <translation>ローカライズ表の保存先</translation>
    </message>
    <message>
        <source>Choose the folder that holds the .lproj folders</source>
        <translation>.lproj フォルダのあるフォルダを選んでください</translation>
    </message>
    <message>
        <source>Import Here</source>
        <translation>ここに取り込む</translation>
    </message>
    <message>
        <source>Options</source>
        <translation>オプション</translation>
    </message>
    <message>
        <source>Show in folder</source>
        <translation>フォルダを表示</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>キャンセル</translation>
    </message>
    <message>
        <source>Drop area</source>
        <translation>ドロップ領域</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>進行状況</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>状況</translation>
    </message>
    <message>
        <source>Results</source>
        <translation>結果</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>ファイル(&amp;F)</translation>
    </message>
    <message>
        <source>&amp;Open files…</source>
        <translation>ファイルを開く(&amp;O)…</translation>
    </message>
    <message>
        <source>&amp;Show output folder</source>
        <translation>保存先フォルダを表示(&amp;S)</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>終了(&amp;Q)</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>ヘルプ(&amp;H)</translation>
    </message>
    <message>
        <source>&amp;About plistable</source>
        <translation>plistable について(&amp;A)</translation>
    </message>
    <message>
        <source>Menu bar</source>
        <translation>メニューバー</translation>
    </message>
    <message>
        <source>Windows-1252 (Western)</source>
        <translation>Windows-1252（西欧）</translation>
    </message>
    <message>
        <source>Latin-1 (ISO-8859-1)</source>
        <translation>Latin-1（ISO-8859-1）</translation>
    </message>
    <message>
        <source>Shift_JIS (Japanese)</source>
        <translation>Shift_JIS（日本語）</translation>
    </message>
    <message>
        <source>EUC-JP (Japanese)</source>
        <translation>EUC-JP（日本語）</translation>
    </message>
    <message>
        <source>UTF-16</source>
        <translation>UTF-16（Unicode）</translation>
    </message>
    <message>
        <source>Read as…</source>
        <translation>文字コードを指定して読み直す…</translation>
    </message>
    <message>
        <source>About plistable</source>
        <translation>plistable について</translation>
    </message>
    <message>
        <source>plistable %1
Converts tables between CSV and property lists.
Licence: MIT</source>
        <translation>plistable %1
CSV とプロパティリストの間で表を変換します。
ライセンス: MIT</translation>
    </message>
</context>
<context>
    <name>plistable::gui::ResultsModel</name>
    <message>
        <source>choose another with Read as…</source>
        <translation>「文字コードを指定して読み直す…」で選び直せます</translation>
    </message>
    <message>
        <source>Options: “A column for every key” writes them all</source>
        <translation>オプションの「すべてのキーを列にする」ですべて書き出せます</translation>
    </message>
    <message>
        <source>Converted</source>
        <translation>変換済み</translation>
    </message>
    <message>
        <source>Check encoding</source>
        <translation>文字コードを確認</translation>
    </message>
    <message>
        <source>Partly converted</source>
        <translation>一部のみ変換</translation>
    </message>
    <message>
        <source>Failed</source>
        <translation>失敗</translation>
    </message>
    <message>
        <source>Passed over</source>
        <translation>対象外</translation>
    </message>
    <message>
        <source>Cancelled</source>
        <translation>キャンセル済み</translation>
    </message>
    <message>
        <source>the drop was cancelled before this file</source>
        <translation>このファイルに進む前に取り消されました</translation>
    </message>
    <message>
        <source>read as Mac OS Roman</source>
        <translation>Mac OS Roman として読み込み</translation>
    </message>
    <message>
        <source>stopped on request; nothing was written</source>
        <translation>指示により中止しました。何も書き出していません</translation>
    </message>
    <message>
        <source>State</source>
        <translation>状態</translation>
    </message>
    <message>
        <source>File</source>
        <translation>ファイル</translation>
    </message>
    <message>
        <source>Output</source>
        <translation>出力先</translation>
    </message>
    <message>
        <source>Encoding</source>
        <translation>文字コード</translation>
    </message>
    <message>
        <source>Reason</source>
        <translation>理由</translation>
    </message>
    <message>
        <source>line %1: unexpected double quote</source>
        <translation>%1 行目: 予期しない二重引用符があります</translation>
    </message>
    <message>
        <source>line %1: unexpected character after a closing double quote</source>
        <translation>%1 行目: 閉じる二重引用符の後に予期しない文字があります</translation>
    </message>
    <message>
        <source>line %1: quoted field is never closed</source>
        <translation>%1 行目: 引用符で囲まれたフィールドが閉じられていません</translation>
    </message>
    <message>
        <source>line %1: the text begins with a line break</source>
        <translation>%1 行目: テキストが改行で始まっています</translation>
    </message>
    <message>
        <source>%1 records converted, the rest was not read</source>
        <translation>%1 件のレコードを変換し、残りは読み込んでいません</translation>
    </message>
    <message>
        <source>%1 record converted, the rest was not read</source>
        <translation>%1 件のレコードを変換し、残りは読み込んでいません</translation>
    </message>
    <message>
        <source>line %1: %2 records have more fields than the header has names; the extra fields were left out</source>
        <translation>%1 行目から: %2 件のレコードに見出しの名前より多いフィールドがあります。余分なフィールドは書き出していません</translation>
    </message>
    <message>
        <source>line %1: %2 record has more fields than the header has names; the extra fields were left out</source>
        <translation>%1 行目: %2 件のレコードに見出しの名前より多いフィールドがあります。余分なフィールドは書き出していません</translation>
    </message>
    <message>
        <source>%1 characters that XML does not allow written as U+FFFD</source>
        <translation>XML で使えない文字 %1 個を U+FFFD として書き出しました</translation>
    </message>
    <message>
        <source>%1 character that XML does not allow written as U+FFFD</source>
        <translation>XML で使えない文字 %1 個を U+FFFD として書き出しました</translation>
    </message>
    <message>
        <source>the character at byte offset %1 is cut off by the end of the file; written as U+FFFD</source>
        <translation>%1 バイト目の文字がファイルの終わりで切れています。U+FFFD として書き出しました</translation>
    </message>
    <message>
        <source>header repeats %1 (columns %2 and %3); the later value is kept</source>
        <translation>見出しの名前 %1 が繰り返されています（%2 列目と %3 列目）。後の列の値を使いました</translation>
    </message>
</context>
<context>
    <name>plistable::gui::StatusText</name>
    <message>
        <source>, incomplete: </source>
        <translation>、不完全: </translation>
    </message>
    <message>
        <source>: not converted: </source>
        <translation>: 変換できませんでした: </translation>
    </message>
    <message>
        <source>passed over</source>
        <translation>対象外</translation>
    </message>
    <message>
        <source>: cancelled</source>
        <translation>: キャンセルしました</translation>
    </message>
    <message>
        <source> (read as %1)</source>
        <translation>（%1 として読み込み）</translation>
    </message>
</context>
<context>
    <name>plistable::gui::OptionsPanel</name>
    <message>
        <source>CSV for &amp;Excel (BOM, CRLF)</source>
        <translation>Excel 向け CSV（BOM、CRLF）(&amp;E)</translation>
    </message>
    <message>
        <source>&amp;Typed values</source>
        <translation>値に型を付ける(&amp;T)</translation>
    </message>
    <message>
        <source>CSV files written begin with a byte-order mark and end their lines with CRLF</source>
        <translation>書き出す CSV ファイルの先頭に BOM を付け、行末を CRLF にします</translation>
    </message>
    <message>
        <source>Numbers, true and false read from CSV become numbers and booleans</source>
        <translation>CSV から読んだ数値、true、false を数値と真偽値にします</translation>
    </message>
    <message>
        <source>The CSV written has a column for every key of every dictionary</source>
        <translation>書き出す CSV に、すべての辞書のすべてのキーの列を設けます</translation>
    </message>
    <message>
        <source>A folder dropped converts the files of its subfolders too</source>
        <translation>ドロップしたフォルダのサブフォルダにあるファイルも変換します</translation>
    </message>
    <message>
        <source>Include &amp;subfolders</source>
        <translation>サブフォルダも含める(&amp;S)</translation>
    </message>
    <message>
        <source>A column for every &amp;key</source>
        <translation>すべてのキーを列にする(&amp;K)</translation>
    </message>
    <message>
        <source>Encoding &amp;written:</source>
        <translation>書き出す文字コード(&amp;W):</translation>
    </message>
    <message>
        <source>CSV &amp;becomes:</source>
        <translation>CSV の変換先(&amp;B):</translation>
    </message>
    <message>
        <source>Delimiter &amp;read:</source>
        <translation>読み込む区切り文字(&amp;R):</translation>
    </message>
    <message>
        <source>Delimiter wr&amp;itten:</source>
        <translation>書き出す区切り文字(&amp;I):</translation>
    </message>
    <message>
        <source>XML property list</source>
        <translation>XML プロパティリスト</translation>
    </message>
    <message>
        <source>Binary property list</source>
        <translation>バイナリプロパティリスト</translation>
    </message>
    <message>
        <source>JSON</source>
        <translation>JSON 形式</translation>
    </message>
    <message>
        <source>Old-style text property list</source>
        <translation>旧形式テキストのプロパティリスト</translation>
    </message>
    <message>
        <source>Strings file (two columns)</source>
        <translation>strings ファイル（2 列）</translation>
    </message>
    <message>
        <source>UTF-8</source>
        <translation>UTF-8（標準）</translation>
    </message>
    <message>
        <source>Japanese for Excel (CP932)</source>
        <translation>日本語版 Excel 向け（CP932）</translation>
    </message>
    <message>
        <source>Shift_JIS (Japanese)</source>
        <translation>Shift_JIS（日本語）</translation>
    </message>
    <message>
        <source>EUC-JP (Japanese)</source>
        <translation>EUC-JP（日本語）</translation>
    </message>
    <message>
        <source>UTF-16 (little-endian)</source>
        <translation>UTF-16（リトルエンディアン）</translation>
    </message>
    <message>
        <source>Windows-1252 (Western)</source>
        <translation>Windows-1252（西欧）</translation>
    </message>
    <message>
        <source>Latin-1 (ISO-8859-1)</source>
        <translation>Latin-1（ISO-8859-1）</translation>
    </message>
    <message>
        <source>Windows-1250 (Central European)</source>
        <translation>Windows-1250（中欧）</translation>
    </message>
    <message>
        <source>Windows-1251 (Cyrillic)</source>
        <translation>Windows-1251（キリル文字）</translation>
    </message>
    <message>
        <source>GB18030 (Chinese)</source>
        <translation>GB18030（中国語）</translation>
    </message>
    <message>
        <source>Big5 (Traditional Chinese)</source>
        <translation>Big5（繁体字中国語）</translation>
    </message>
    <message>
        <source>EUC-KR (Korean)</source>
        <translation>EUC-KR（韓国語）</translation>
    </message>
    <message>
        <source>Mac OS Roman</source>
        <translation>Mac OS Roman（Mac 欧文）</translation>
    </message>
    <message>
        <source>Comma ,</source>
        <translation>カンマ ,</translation>
    </message>
    <message>
        <source>Semicolon ;</source>
        <translation>セミコロン ;</translation>
    </message>
    <message>
        <source>Tab</source>
        <translation>タブ</translation>
    </message>
    <message>
        <source>Pipe |</source>
        <translation>縦線 |</translation>
    </message>
</context>
<context>
    <name>plistable::gui::DetailsPane</name>
    <message>
        <source>Read as…</source>
        <translation>文字コードを指定して読み直す…</translation>
    </message>
    <message>
        <source>Reason</source>
        <translation>理由</translation>
    </message>
    <message>
        <source>Selected result</source>
        <translation>選択した結果</translation>
    </message>
    <message>
        <source>Preview</source>
        <translation>プレビュー</translation>
    </message>
    <message>
        <source>Select a result to see its first rows.</source>
        <translation>結果を選ぶと、その最初の行をここに表示します。</translation>
    </message>
    <message>
        <source>encoding read: %1</source>
        <translation>読み込んだ文字コード: %1</translation>
    </message>
    <message>
        <source>rows written: %1</source>
        <translation>書き出した行数: %1</translation>
    </message>
    <message>
        <source>showing the first %1 rows</source>
        <translation>最初の %1 行を表示</translation>
    </message>
    <message>
        <source>showing the source</source>
        <translation>変換元を表示</translation>
    </message>
    <message>
        <source>preview: %1</source>
        <translation>プレビュー: %1</translation>
    </message>
</context>
<context>
    <name>plistable::gui::TablePreview</name>
    <message>
        <source>cannot read: %1</source>
        <translation>読み込めません: %1</translation>
    </message>
    <message>
        <source>no decoder for %1</source>
        <translation>%1 を読み込む手段がありません</translation>
    </message>
    <message>
        <source>not %1 at or after byte %2</source>
        <translation>%2 バイト目以降が %1 ではありません</translation>
    </message>
    <message>
        <source>no line ends in the first %1 MB; the preview stops there</source>
        <translation>最初の %1 MB に行の終わりがないため、プレビューはそこまでです</translation>
    </message>
    <message>
        <source>the root is neither an array nor a dictionary: no table to show</source>
        <translation>ルートが配列でも辞書でもないため、表として表示できません</translation>
    </message>
</context>
<context>
    <name>plistable::gui::LocalizationOffer</name>
    <message>
        <source>No localization table written: %1</source>
        <translation>ローカライズ表を書き出していません: %1</translation>
    </message>
    <message>
        <source>No localization table written: %1: %2</source>
        <translation>ローカライズ表を書き出していません: %1: %2</translation>
    </message>
    <message>
        <source>Exported the localization table of %1 (%2 rows) to %3.</source>
        <translation>%1 のローカライズ表（%2 行）を %3 に書き出しました。</translation>
    </message>
    <message>
        <source>Nothing imported: %1: %2</source>
        <translation>何も取り込んでいません: %1: %2</translation>
    </message>
    <message>
        <source>Nothing imported: %1</source>
        <translation>何も取り込んでいません: %1</translation>
    </message>
    <message>
        <source>Imported %1 into %2: %3 files written, %4 unchanged.</source>
        <translation>%1 を %2 に取り込みました: 書き出し %3 個、変更なし %4 個。</translation>
    </message>
    <message>
        <source>%1 problems, the first: %2</source>
        <translation>問題 %1 件、最初の問題: %2</translation>
    </message>
</context>
</TS>
