<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>Vurma</name>
    <message>
        <source>ﾌｧｲﾙ(&amp;F)</source>
        <translation>&amp;File</translation>
    </message>
    <message>
        <source>開く(&amp;O)...	Ctrl+O</source>
        <translation>&amp;Open...	Ctrl+O</translation>
    </message>
    <message>
        <source>名前を付けて保存(&amp;S)...	Ctrl+S</source>
        <translation>Save &amp;As...	Ctrl+S</translation>
    </message>
    <message>
        <source>ｱﾌﾟﾘｹｰｼｮﾝの終了(&amp;X)</source>
        <translation>E&amp;xit</translation>
    </message>
    <message>
        <source>表示(&amp;V)</source>
        <translation>&amp;View</translation>
    </message>
    <message>
        <source>スペクトログラム(&amp;S)</source>
        <translation>&amp;Spectrogram</translation>
    </message>
    <message>
        <source>言語(&amp;L)</source>
        <translation>&amp;Language</translation>
    </message>
    <message>
        <source>ｼｽﾃﾑの設定に従う(&amp;S)</source>
        <translation>&amp;System language</translation>
    </message>
    <message>
        <source>日本語(&amp;J)</source>
        <translation>&amp;Japanese (日本語)</translation>
    </message>
    <message>
        <source>English(&amp;E)</source>
        <translation>&amp;English</translation>
    </message>
    <message>
        <source>次回の起動から切り替わります</source>
        <translation>Takes effect at the next start</translation>
    </message>
    <message>
        <source>ﾍﾙﾌﾟ(&amp;H)</source>
        <translation>&amp;Help</translation>
    </message>
    <message>
        <source>ﾊﾞｰｼﾞｮﾝ情報(&amp;A)...</source>
        <translation>&amp;About Vurma...</translation>
    </message>
    <message>
        <source>ﾊﾞｰｼﾞｮﾝ情報</source>
        <translation>About Vurma</translation>
    </message>
    <message>
        <source>スペクトログラム</source>
        <translation>Spectrogram</translation>
    </message>
    <message>
        <source>PNG形式で保存(&amp;S)...</source>
        <translation>&amp;Save as PNG...</translation>
    </message>
    <message>
        <source>閉じる(&amp;C)</source>
        <translation>&amp;Close</translation>
    </message>
    <message>
        <source>対数周波数軸(&amp;L)</source>
        <translation>&amp;Log frequency axis</translation>
    </message>
    <message>
        <source>上限</source>
        <translation>Top</translation>
    </message>
    <message>
        <source>下限</source>
        <translation>Floor</translation>
    </message>
    <message>
        <source>全体(&amp;W)</source>
        <translation>&amp;Whole</translation>
    </message>
    <message>
        <source>PNG保存(&amp;P)...</source>
        <translation>Save &amp;PNG...</translation>
    </message>
    <message>
        <source>録音ﾃﾞｰﾀ</source>
        <translation>Recording</translation>
    </message>
    <message>
        <source>周波数分析条件</source>
        <translation>Analysis settings</translation>
    </message>
    <message>
        <source>分析結果</source>
        <translation>Analysis result</translation>
    </message>
    <message>
        <source>映像なし</source>
        <translation>No video</translation>
    </message>
    <message>
        <source>時間軸ｽｹｰﾙ</source>
        <translation>Time scale</translation>
    </message>
    <message>
        <source>増幅率</source>
        <translation>Gain</translation>
    </message>
    <message>
        <source>ﾊﾟ
ﾜ
|
 
ﾚ
ﾍﾞ
ﾙ</source>
        <translation>L
e
v
e
l</translation>
    </message>
    <message>
        <source>時間 [sec]</source>
        <translation>Time [sec]</translation>
    </message>
    <message>
        <source>周波数軸
ｽｹｰﾙ</source>
        <translation>Freq.
scale</translation>
    </message>
    <message>
        <source>周波数 [Hz]</source>
        <translation>Freq. [Hz]</translation>
    </message>
    <message>
        <source>ﾋﾟｰｸ値</source>
        <translation>Peak</translation>
    </message>
    <message>
        <source>窓関数</source>
        <translation>Window</translation>
    </message>
    <message>
        <source>ｻﾝﾌﾟﾙ数</source>
        <translation>Samples</translation>
    </message>
    <message>
        <source>音階</source>
        <translation>Note</translation>
    </message>
    <message>
        <source>ｶｰｿﾙ</source>
        <translation>Mark</translation>
    </message>
    <message>
        <source>窓を表示する</source>
        <translation>Show window</translation>
    </message>
    <message>
        <source>ﾐｭｰﾄ</source>
        <translation>Mute</translation>
    </message>
    <message>
        <source>ｻｰﾁ</source>
        <translation>Find</translation>
    </message>
    <message>
        <source>停止中</source>
        <translation>Stopped</translation>
    </message>
    <message>
        <source>一時停止中</source>
        <translation>Paused</translation>
    </message>
    <message>
        <source>再生中...</source>
        <translation>Playing...</translation>
    </message>
    <message>
        <source>Rectangular</source>
        <translation>Rectangular</translation>
    </message>
    <message>
        <source>Hanning</source>
        <translation>Hanning</translation>
    </message>
    <message>
        <source>Humming</source>
        <translation>Hamming</translation>
    </message>
    <message>
        <source>%Y年%m月%d日 %H時%M分</source>
        <translation>%Y-%m-%d %H:%M</translation>
    </message>
    <message>
        <source>%s
%s %dﾋﾞｯﾄ %6.3fKHz
%02lld分%02lld秒%03lld</source>
        <translation>%s
%s %d-bit %6.3fkHz
%02lld:%02lld.%03lld</translation>
    </message>
    <message>
        <source>ﾓﾉﾗﾙ</source>
        <translation>Mono</translation>
    </message>
    <message>
        <source>ｽﾃﾚｵ</source>
        <translation>Stereo</translation>
    </message>
    <message>
        <source>%d ﾁｬﾈﾙ</source>
        <translation>%d ch</translation>
    </message>
    <message>
        <source>ｵｸﾀｰﾌﾞ%2d </source>
        <translation>Octave%2d</translation>
    </message>
    <message>
        <source>ﾄﾞ</source>
        <translation>C</translation>
    </message>
    <message>
        <source>ﾄﾞ#</source>
        <translation>C#</translation>
    </message>
    <message>
        <source>ﾚ</source>
        <translation>D</translation>
    </message>
    <message>
        <source>ﾚ#</source>
        <translation>D#</translation>
    </message>
    <message>
        <source>ﾐ</source>
        <translation>E</translation>
    </message>
    <message>
        <source>ﾌｧ</source>
        <translation>F</translation>
    </message>
    <message>
        <source>ﾌｧ#</source>
        <translation>F#</translation>
    </message>
    <message>
        <source>ｿ</source>
        <translation>G</translation>
    </message>
    <message>
        <source>ｿ#</source>
        <translation>G#</translation>
    </message>
    <message>
        <source>ﾗ</source>
        <translation>A</translation>
    </message>
    <message>
        <source>ﾗ#</source>
        <translation>A#</translation>
    </message>
    <message>
        <source>ｼ</source>
        <translation>B</translation>
    </message>
    <message>
        <source>すべてのAVﾌｧｲﾙ</source>
        <translation>All media files</translation>
    </message>
    <message>
        <source>MPEG ﾋﾞﾃﾞｵ (*.mpg;*.mpe*;*.m1v)</source>
        <translation>MPEG video (*.mpg;*.mpe*;*.m1v)</translation>
    </message>
    <message>
        <source>AVI (Audio-Video Interleaved) (*.avi)</source>
        <translation>AVI (Audio-Video Interleaved) (*.avi)</translation>
    </message>
    <message>
        <source>QuickTime ﾑｰﾋﾞｰ (Ver.2以前) (*.qt;*.mov)</source>
        <translation>QuickTime movie (Ver.2 or earlier) (*.qt;*.mov)</translation>
    </message>
    <message>
        <source>WAV ｵｰﾃﾞｨｵ (*.wav)</source>
        <translation>WAV audio (*.wav)</translation>
    </message>
    <message>
        <source>AU ｵｰﾃﾞｨｵ (*.au)</source>
        <translation>AU audio (*.au)</translation>
    </message>
    <message>
        <source>AIFF ｵｰﾃﾞｨｵ (*.aif*)</source>
        <translation>AIFF audio (*.aif*)</translation>
    </message>
    <message>
        <source>SND ｵｰﾃﾞｨｵ (*.snd)</source>
        <translation>SND audio (*.snd)</translation>
    </message>
    <message>
        <source>MPEG ｵｰﾃﾞｨｵ (*.mpa;*.mp1;*.mp2)</source>
        <translation>MPEG audio (*.mpa;*.mp1;*.mp2)</translation>
    </message>
    <message>
        <source>MP3 ｵｰﾃﾞｨｵ (*.mp3)</source>
        <translation>MP3 audio (*.mp3)</translation>
    </message>
    <message>
        <source>ASF ﾋﾞﾃﾞｵ (*.asf)</source>
        <translation>ASF video (*.asf)</translation>
    </message>
    <message>
        <source>WMA (Windows Media Audio) (*.wma)</source>
        <translation>WMA (Windows Media Audio) (*.wma)</translation>
    </message>
    <message>
        <source>WMV (Windows Media Video) (*.wmv)</source>
        <translation>WMV (Windows Media Video) (*.wmv)</translation>
    </message>
    <message>
        <source>ﾋﾞﾃﾞｵCD (*.dat)</source>
        <translation>Video CD (*.dat)</translation>
    </message>
    <message>
        <source>すべてのﾌｧｲﾙ (*.*)</source>
        <translation>All files (*.*)</translation>
    </message>
    <message>
        <source>ﾃｷｽﾄ ﾌｧｲﾙ (*.csv *.txt)</source>
        <translation>Text files (*.csv *.txt)</translation>
    </message>
    <message>
        <source>すべてのﾌｧｲﾙ (*)</source>
        <translation>All files (*)</translation>
    </message>
    <message>
        <source>DirectShowを初期化できません hr=0x%x<byte value="xd"/>
</source>
        <translation>Cannot start the media engine hr=0x%x<byte value="xd"/>
</translation>
    </message>
    <message>
        <source>このﾌｧｲﾙは処理できません。  </source>
        <translation>This file cannot be processed.</translation>
    </message>
    <message>
        <source>%d秒たってもﾃﾞｰﾀが届きません。</source>
        <translation>No data arrived within %d seconds.</translation>
    </message>
    <message>
        <source>このﾌｧｲﾙには音声が含まれていません。  </source>
        <translation>This file contains no sound.</translation>
    </message>
    <message>
        <source>%dﾋﾞｯﾄのｻﾝﾌﾟﾙは処理できません。  </source>
        <translation>%d-bit samples cannot be processed.</translation>
    </message>
    <message>
        <source>ﾒﾓﾘｰが不足しています。  </source>
        <translation>Not enough memory.</translation>
    </message>
    <message>
        <source>ﾌｧｲﾙの読み込み中にｴﾗｰが発生しました。  </source>
        <translation>An error occurred while reading the file.</translation>
    </message>
    <message>
        <source>ﾃﾞｰﾀのｻﾝﾌﾟﾙ数が極端に少ないので計算できません。  </source>
        <translation>There are too few samples to analyse.</translation>
    </message>
    <message>
        <source>区間がFFTの1ﾌﾚｰﾑ(%dｻﾝﾌﾟﾙ)より短いので、ｽﾍﾟｸﾄﾙを計算できません。  </source>
        <translation>The span is shorter than one FFT frame (%d samples): no spectrum can be computed.</translation>
    </message>
    <message>
        <source>平均</source>
        <translation>Average</translation>
    </message>
    <message>
        <source>最大</source>
        <translation>Maximum</translation>
    </message>
    <message>
        <source>現在のﾌﾚｰﾑ</source>
        <translation>Current frame</translation>
    </message>
    <message>
        <source>参照として保持</source>
        <translation>Keep as reference</translation>
    </message>
    <message>
        <source>CSV保存...</source>
        <translation>Save CSV...</translation>
    </message>
    <message>
        <source>スペクトル - [%1]</source>
        <translation>Spectrum - [%1]</translation>
    </message>
    <message>
        <source>スペクトル</source>
        <translation>Spectrum</translation>
    </message>
    <message>
        <source>読み込みが終わると計算します</source>
        <translation>Computed once the file has loaded</translation>
    </message>
    <message>
        <source>区間がFFTの1ﾌﾚｰﾑ(%1ｻﾝﾌﾟﾙ)より短いので、ｽﾍﾟｸﾄﾙを表示できません。</source>
        <translation>The span is shorter than one FFT frame (%1 samples): no spectrum to show.</translation>
    </message>
    <message>
        <source>計算中...</source>
        <translation>Computing...</translation>
    </message>
    <message>
        <source>計算中... %1%</source>
        <translation>Computing... %1%</translation>
    </message>
    <message>
        <source>参照</source>
        <translation>Reference</translation>
    </message>
    <message>
        <source>参照 (破線)</source>
        <translation>Reference (dashed)</translation>
    </message>
    <message>
        <source>スペクトル(&amp;P)</source>
        <translation>Spectr&amp;um</translation>
    </message>
    <message>
        <source>ﾃﾞｰﾀのｻﾝﾌﾟﾙ数が少ないので選択できません。  </source>
        <translation>There are too few samples for this size.</translation>
    </message>
    <message>
        <source>開始時間が終わりに近すぎるので計算できません。  </source>
        <translation>The start time is too close to the end to analyse.</translation>
    </message>
    <message>
        <source>ﾌｧｲﾙを作成できません。  
%s</source>
        <translation>Cannot create the file.
%s</translation>
    </message>
    <message>
        <source>ﾌｧｲﾙに書き込めません。  
%s</source>
        <translation>Cannot write to the file.
%s</translation>
    </message>
    <message>
        <source>ﾃﾞｨｽｸの空き容量が不足しています。  
%s</source>
        <translation>Not enough disk space.
%s</translation>
    </message>
    <message>
        <source>ラウドネスには 0.4 秒以上の長さが必要です</source>
        <translation>Loudness needs at least 0.4 s</translation>
    </message>
    <message>
        <source>ショートタームとラウドネスレンジには 3 秒以上の長さが必要です</source>
        <translation>Short-term loudness and loudness range need at least 3 s</translation>
    </message>
    <message>
        <source>無音のためラウドネスは測れません</source>
        <translation>Silent: no loudness to measure</translation>
    </message>
    <message>
        <source>すべてのサンプルが 0 です</source>
        <translation>Every sample is 0</translation>
    </message>
    <message>
        <source>無音のチャンネルがあるため相関は測れません</source>
        <translation>A channel is silent: no correlation to measure</translation>
    </message>
    <message>
        <source>ファイル</source>
        <translation>File</translation>
    </message>
    <message>
        <source>長さ</source>
        <translation>Duration</translation>
    </message>
    <message>
        <source>サンプリング周波数</source>
        <translation>Sample rate</translation>
    </message>
    <message>
        <source>チャンネル数</source>
        <translation>Channels</translation>
    </message>
    <message>
        <source>コーデック</source>
        <translation>Codec</translation>
    </message>
    <message>
        <source>可逆</source>
        <translation>Lossless</translation>
    </message>
    <message>
        <source>サンプル形式</source>
        <translation>Sample format</translation>
    </message>
    <message>
        <source>ビット数</source>
        <translation>Bits</translation>
    </message>
    <message>
        <source>有効ビット数</source>
        <translation>Effective bits</translation>
    </message>
    <message>
        <source>統合ラウドネス</source>
        <translation>Integrated loudness</translation>
    </message>
    <message>
        <source>ラウドネスレンジ</source>
        <translation>Loudness range</translation>
    </message>
    <message>
        <source>最大モーメンタリー</source>
        <translation>Max momentary</translation>
    </message>
    <message>
        <source>最大ショートターム</source>
        <translation>Max short-term</translation>
    </message>
    <message>
        <source>トゥルーピーク</source>
        <translation>True peak</translation>
    </message>
    <message>
        <source>サンプルピーク</source>
        <translation>Sample peak</translation>
    </message>
    <message>
        <source>RMS</source>
        <translation>RMS</translation>
    </message>
    <message>
        <source>クリップしたサンプル</source>
        <translation>Clipped samples</translation>
    </message>
    <message>
        <source>最初のクリップ</source>
        <translation>First clips</translation>
    </message>
    <message>
        <source>DC オフセット</source>
        <translation>DC offset</translation>
    </message>
    <message>
        <source>チャンネル間の相関</source>
        <translation>Correlation</translation>
    </message>
    <message>
        <source>先頭の無音</source>
        <translation>Silence at start</translation>
    </message>
    <message>
        <source>末尾の無音</source>
        <translation>Silence at end</translation>
    </message>
    <message>
        <source>帯域幅</source>
        <translation>Bandwidth</translation>
    </message>
    <message>
        <source>非可逆圧縮の疑い</source>
        <translation>Lossy suspect</translation>
    </message>
    <message>
        <source>注記</source>
        <translation>Notes</translation>
    </message>
    <message>
        <source>エラー</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>はい</source>
        <translation>Yes</translation>
    </message>
    <message>
        <source>いいえ</source>
        <translation>No</translation>
    </message>
    <message>
        <source>ﾌｧｲﾙが途中で切れています (%.3f 秒のうち %.3f 秒しか読めません)。</source>
        <translation>The file is cut short (of its %.3f s, only %.3f s can be read).</translation>
    </message>
    <message>
        <source>録音が短すぎて分析できません</source>
        <translation>The recording is too short to analyse</translation>
    </message>
    <message>
        <source>自動</source>
        <translation>Auto</translation>
    </message>
    <message>
        <source>ﾁｬﾝﾈﾙ</source>
        <translation>Channels</translation>
    </message>
    <message>
        <source>ﾐｯｸｽ</source>
        <translation>Mix</translation>
    </message>
    <message>
        <source>全ﾁｬﾝﾈﾙ</source>
        <translation>All channels</translation>
    </message>
    <message>
        <source>ｷｬﾌﾟｼｮﾝ(&amp;A)</source>
        <translation>C&amp;aption</translation>
    </message>
    <message>
        <source>ﾌｧｲﾙ名、長さ、ｻﾝﾌﾟﾘﾝｸﾞ周波数、FFT と窓関数を図の上に入れます</source>
        <translation>Puts the file name, length, sampling rate, FFT and window above the picture</translation>
    </message>
    <message>
        <source>録音の診断(&amp;R)</source>
        <translation>&amp;Recording report</translation>
    </message>
    <message>
        <source>録音の診断</source>
        <translation>Recording report</translation>
    </message>
    <message>
        <source>コピー</source>
        <translation>Copy</translation>
    </message>
    <message>
        <source>取り込みが終わるのを待っています...</source>
        <translation>Waiting for the capture to end...</translation>
    </message>
    <message>
        <source>計算しています...</source>
        <translation>Computing...</translation>
    </message>
</context>
</TS>
