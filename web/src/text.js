// The page's words in English or Japanese: the browser's language at first,
// then the one the user picks, remembered in this browser.

const EN = {
  intro: 'Moves the twist of the arms and elbows onto their twist bones (腕捩, 手捩) in MMD motions (VMD) '
    + 'and poses (VPD). '
    + 'Nothing leaves your computer: the conversion runs in this page, which once visited works offline too'
    + ' and can be installed as an app.',
  drop: 'Drop motions (.vmd) or poses (.vpd) here, and your model (.pmx or .pmd) if you like, or a zip of them, or',
  filesHead: '1. Files', optionsHead: '2. Options', resultsHead: '3. Results',
  motion: 'motion', pose: 'pose', model: 'model', remove: 'Remove',
  modelName: (name) => `model "${name}"`,
  ignored: (name) => (/\.zip$/i.test(name) ? `${name}: not a zip that can be read, left out`
    : `${name}: not a motion, a pose or a model (.vmd, .vpd, .pmx, .pmd), left out`),
  needMotion: 'Add a motion (.vmd) or a pose (.vpd) to convert.',
  oneModel: 'Only one model is used: the last one added.',
  mode: 'Mode',
  modes: {
    12: 'arms and elbows: twist about the limb\'s axis, pose exact at keyframes (recommended)',
    13: 'arms and elbows: twist about the limb\'s axis',
    11: 'arms and elbows: twist about the limb\'s axis (older method)',
    10: 'arms and elbows: twist about X only',
    9: 'arms and elbows: Y-and-Z rotation',
    8: 'arms and elbows: smallest Y-Z orbit',
    4: 'arms only: twist about the limb\'s axis, pose exact at keyframes',
    5: 'arms only: twist about the limb\'s axis',
    3: 'arms only: twist about the limb\'s axis (older method)',
    2: 'arms only: twist about X only',
    1: 'arms only: Y-and-Z rotation',
    0: 'arms only: smallest Y-Z orbit',
  },
  from: 'From frame', to: 'To frame', rangeNote: 'both ends included',
  keep: 'Keep the motion within', degrees: '°',
  keepNote: 'adds keyframes until every frame plays within this angle of your motion: '
    + '0.1° to 10° (0 = off)',
  keepModes: 'Keeping the motion needs mode 4 or 12, or fold back.',
  thin: 'Thin the motion within',
  thinNote: 'for motions keyed on every frame (traced from video, baked): keeps of every bone only the keyframes'
    + ' it needs to play within this angle of your motion at every frame, the arms and elbows kept as "keep"'
    + ' keeps them: 0.1° to 10° (0 = off)',
  fold: 'Fold the twist back',
  foldNote: 'the reverse: for models and players without twist bones, puts the twist bones\' turn back onto the arms',
  wrist: 'Move the wrists\' twist onto the hand twist bones',
  wristNote: 'a hand turned about the forearm (on 手首) goes to 手捩, so that the forearm turns with it',
  wristFold: 'Not together with fold back.',
  nameModel: 'Add your model: the twist axes are then your model\'s, and "keep" holds on it as MMD plays it.',
  empty: 'Enter a number.', negative: 'Must be 0 or more.', whole: 'Must be a whole number.',
  reversed: 'Must not be after "To frame".', tenths: 'In steps of 0.1°.', tooBig: 'Too large.',
  keepMax: 'At most 10°: beyond that the motion is hardly kept.',
  convert: 'Convert', converting: (i, n) => `Converting ${i} of ${n}…`,
  fixFields: 'Fix the fields marked in red first.',
  zip: 'Download all (zip)',
  converted: 'converted', unchanged: 'unchanged (the output bytes equal the input)', failed: 'failed',
  cut: 'converted, with a warning', unheld: 'converted, with a warning',
  cutWhy: (c) => 'The motion is cut short: its header announces '
    + `${c.announced.toLocaleString()} ${c.section} keyframes, `
    + `the file holds ${c.held.toLocaleString()}. What it holds is converted.`,
  unheldWhy: (bound) => `The motion could not be kept within ${bound}° at every frame.`,
  thinBeyond: (frames, bound) => `Thinned, some bones play beyond ${bound}° at ${frames.toLocaleString()}`
    + ` frame${frames > 1 ? 's' : ''} (the program's message names them).`,
  thinned: (t, worst) => `; thinned: ${t.in.toLocaleString()} → ${t.out.toLocaleString()} bone keyframes,`
    + ` the bones thinned ${worst}° off at worst`,
  beyond: (c) => `${c.bone}: ${c.worst.toFixed(2)}° at frame ${c.frame}`,
  misread: (c) => `${c.bone}: at frame ${c.frame}, babylon-mmd (the preview here) and three.js show your motion`
    + ` itself ${c.misread.toFixed(2)}° from where MMD shows it (they solve its curve by bisection); no output`
    + ' can play right in both, so there the two figures part by about that much.',
  fail: {
    format: 'This is not a VMD motion: its first bytes are not a motion\'s header.',
    pose: 'This is not a pose MMD reads: the program\'s message below says which line and why.',
    read: 'The file could not be read to its end.',
    path: 'The file\'s name is too long.',
    output: 'The output would overwrite a file of this run.',
    write: 'The output could not be written (the browser may be short of memory).',
    options: 'The program refused these options together.',
    status: (n) => `The program stopped with status ${n}.`,
    isModel: 'This is a model (PMX or PMD), not a motion, though its name ends in .vmd: '
      + 'add it under its own extension (.pmx or .pmd) to use it as your model.',
    isPose: 'This is a pose (VPD), not a motion, though its name ends in .vmd: add it named .vpd.',
  },
  modelWhy: {
    'cannot be opened': 'it could not be read',
    'not a PMX or PMD model': 'it is not a PMX or PMD model',
    'cut short or damaged': 'it is cut short or damaged',
    noBone: (bone) => `it has no bone ${bone}, which this conversion writes`,
    noAxis: (bone) => `the axis of ${bone} has no direction`,
  },
  modelFailed: (why) => `Your model cannot be used: ${why}.`,
  modelFix: 'Fold the twist back (for a model without twist bones), or add a model that has them.',
  modelOther: 'Add another model.',
  foldIt: 'Fold the twist back',
  modelFirst: 'Your model cannot play this conversion: see under the files.',
  worstPlain: (v, f) => `worst deviation ${v}° at frame ${f}`,
  strays: (bound) => `, beyond ${bound}°`,
  advice: (names, of, bound) => `${names.length === of ? (of > 1 ? 'Every motion' : 'The motion') : names.join(', ')}`
    + ` ${names.length > 1 ? 'play' : 'plays'} more than ${bound}° off your motion somewhere with the plain`
    + ` conversion: between keyframes the limb and its twist bone turn each on its own. Keeping the motion`
    + ` adds keyframes until every frame plays within ${bound}°.`,
  keepIt: (bound) => `Keep within ${bound}° and convert again`,
  worstPose: (v) => `deviation ${v}° (the worse wrist)`,
  worstKept: (v, bound, plain) => `worst deviation ${v}°, within the bound of ${bound}°`
    + (plain == null ? '' : ` (plain conversion: ${plain}°)`),
  worstBeyond: (v, bound) => `worst deviation ${v}°, beyond the bound of ${bound}°`,
  inMmd: 'in MMD, ',
  exact: 'plays exactly as your motion',
  unmeasured: (n) => `; not measurable at ${n.toLocaleString()} frames`
    + ' (rotations that are not numbers)',
  measuring: 'deviation being measured…',
  stale: 'These results are from an earlier run: the files or options have changed since. '
    + 'Convert again to bring them up to date.',
  show: 'Show', shown: (name) => `Shown below: ${name}`,
  loadingPreview: (name) => `Loading the preview of ${name}…`,
  showing: (name, on) => `${name}, on ${on}.`,
  playsWhatItHolds: 'Your motion is cut short: the preview plays what it holds.',
  motionUnread: (name) => `The preview's player (babylon-mmd) cannot read ${name}, so there is nothing to show; `
    + 'the conversion and its download are not affected.',
  notConverted: (name) => `${name} was not converted: nothing to chart or preview.`,
  details: 'The program\'s message',
  twistKeyed: (names) => `${names.join(', ')} already ${names.length > 1 ? 'hold' : 'holds'} keyframes of a twist bone`
    + ' (腕捩 / 手捩); the conversion adds its own beside them. "Keep the motion" takes them into account.',
  times: (n) => ` (${n.toLocaleString()} times)`,
  consoleHead: 'Console', consoleEmpty: 'The program\'s own text shows here once you convert.', moreLines: (n) => `… and ${n.toLocaleString()} more lines, not shown.`,
  wholeText: 'Download the whole text',
  chartHead: 'How far the worse wrist strays from your motion',
  chartHeadThin: 'How far the arms\' chains and the other bones stray from your motion',
  frame: 'frame', offBy: 'worse wrist off by (°)', offByThin: 'off by (°)',
  plain: 'plain conversion', kept: 'kept', folded: 'folded back', bound: 'bound',
  thinnedLine: 'chains, thinned', otherBones: 'other bones, thinned',
  worst: (what, frame, value) => `${what}: worst at frame ${frame}, ${value.toFixed(2)}°`,
  noDeviation: (what) => `${what}: plays exactly as your motion at every frame (0°).`,
  clickSeeks: 'Click the chart to show that frame in the preview.',
  previewHead: 'Preview', play: 'Play', pause: 'Pause', sideBySide: 'side by side', overlay: 'overlay',
  frameField: 'Frame', stepBack: 'One frame back', stepAhead: 'One frame on', speed: 'Speed',
  resetView: 'Reset the view',
  camera: 'Camera', cameraWhole: 'the whole motion in view', cameraFollow: 'following the dancer',
  input: 'your motion', output: 'converted',
  mannequin: 'the mannequin (the built-in model\'s bones and twist axes; '
    + 'add your model to see it on yours)',
  previewFailed: 'The preview\'s player (babylon-mmd) cannot read your model, so it shows the mannequin; '
    + 'the conversion used your model.',
  mannequinInstead: 'the mannequin (the built-in model\'s bones and twist axes)',
  noWebgl: 'The preview needs WebGL in a worker, which this browser does not offer.',
  fromDisk: 'This page was opened from a file, and browsers do not run its converter from there. '
    + 'Serve the folder instead: in it, run  python3 -m http.server  and open http://localhost:8000/',
  stopped: (why) => `The converter stopped: ${why}`,
};

const JA = {
  intro: 'MMD のモーション (VMD) とポーズ (VPD) の腕とひじの捩りを捩りボーンに移します。変換はこのページの中で行い、ファイルはどこにも送りません。一度開けばネットワークなしでも動き、アプリとしてインストールできます。',
  drop: 'ここにモーション (.vmd) かポーズ (.vpd) と、必要ならモデル (.pmx / .pmd) を、またはそれらの zip をドロップ、または',
  filesHead: '1. ファイル', optionsHead: '2. 設定', resultsHead: '3. 結果',
  motion: 'モーション', pose: 'ポーズ', model: 'モデル', remove: '外す',
  modelName: (name) => `モデル「${name}」`,
  ignored: (name) => (/\.zip$/i.test(name) ? `${name}: 読めない zip のため外しました`
    : `${name}: モーションでもポーズでもモデルでもないため外しました (.vmd, .vpd, .pmx, .pmd)`),
  needMotion: '変換するモーション (.vmd) かポーズ (.vpd) を追加してください。',
  oneModel: 'モデルは一つだけ使います (最後に追加したもの)。',
  mode: 'モード',
  modes: {
    12: '腕とひじ: 腕の軸まわりの捩り、キーフレームで姿勢が一致 (おすすめ)',
    13: '腕とひじ: 腕の軸まわりの捩り',
    11: '腕とひじ: 腕の軸まわりの捩り (旧方式)',
    10: '腕とひじ: X 軸のみの捩り',
    9: '腕とひじ: Y と Z の回転',
    8: '腕とひじ: 最小の YZ 回転',
    4: '腕のみ: 腕の軸まわりの捩り、キーフレームで姿勢が一致',
    5: '腕のみ: 腕の軸まわりの捩り',
    3: '腕のみ: 腕の軸まわりの捩り (旧方式)',
    2: '腕のみ: X 軸のみの捩り',
    1: '腕のみ: Y と Z の回転',
    0: '腕のみ: 最小の YZ 回転',
  },
  from: '開始フレーム', to: '終了フレーム', rangeNote: '両端を含む',
  keep: 'モーションを保つ: 誤差', degrees: '° 以内',
  keepNote: 'すべてのフレームで元のモーションとの差がこの角度に収まるまでキーフレームを足します: 0.1° から 10° (0 で無効)',
  thin: 'モーションを間引く: 誤差',
  thinNote: '全フレームにキーがあるモーション (動画からのトレースやベイク) 向け: 各ボーンのキーフレームを、すべてのフレームで'
    + '元のモーションとの差がこの角度に収まる分だけ残します。腕とひじは「保つ」と同じように保ちます: 0.1° から 10° (0 で無効)',
  keepModes: 'モーション保持はモード 4 か 12、または捩りを戻すときに使えます。',
  fold: '捩りを戻す',
  foldNote: '逆変換: 捩りボーンのないモデルやプレイヤー向けに、捩りボーンの回転を腕に戻します',
  wrist: '手首の捩りを手捩に移す',
  wristNote: '前腕の軸まわりの手首の回転を手捩に移し、前腕もいっしょに捩れるようにします',
  wristFold: '捩りを戻すとは一緒に使えません。',
  nameModel: 'モデルも追加してください: 捩りの軸がそのモデルのものになり、「保持」が MMD での再生どおりに守られます。',
  empty: '数を入れてください。', negative: '0 以上にしてください。', whole: '整数にしてください。',
  reversed: '終了フレームより後にはできません。', tenths: '0.1° 単位です。', tooBig: '大きすぎます。',
  keepMax: '10° までです: それ以上ではほとんど保てません。',
  convert: '変換', converting: (i, n) => `変換中 ${i} / ${n}…`,
  fixFields: '赤で示した欄を先に直してください。',
  zip: 'まとめてダウンロード (zip)',
  converted: '変換しました', unchanged: '変化なし (出力が入力と同じバイト)', failed: '失敗',
  cut: '変換しました (注意あり)', unheld: '変換しました (注意あり)',
  cutWhy: (c) => `モーションが途中で切れています: ヘッダーは${c.section === 'bone' ? 'ボーン' : 'モーフ'}のキーフレームを `
    + `${c.announced.toLocaleString()} 個としていますが、ファイルには ${c.held.toLocaleString()} 個`
    + 'しかありません。あるぶんを変換しました。',
  unheldWhy: (bound) => `すべてのフレームを ${bound}° 以内に保つことはできませんでした。`,
  thinBeyond: (frames, bound) => `間引いた結果、${frames.toLocaleString()} フレームで ${bound}° を超えるボーンがあります`
    + ' (プログラムのメッセージにボーン名があります)。',
  thinned: (t, worst) => `。間引き: ボーンのキーフレーム ${t.in.toLocaleString()} → ${t.out.toLocaleString()}、`
    + `間引いたボーンの最大誤差 ${worst}°`,
  beyond: (c) => `${c.bone}: フレーム ${c.frame} で ${c.worst.toFixed(2)}°`,
  misread: (c) => `${c.bone}: フレーム ${c.frame} では babylon-mmd (ここのプレビュー) と three.js が元のモーションそのものを`
    + ` MMD から ${c.misread.toFixed(2)}° ずらして表示します (曲線を二分法で解くため)。両方で正しく再生できる出力はないため、`
    + 'そこでは二つの姿がそのぶん離れます。',
  fail: {
    format: 'VMD モーションではありません: 先頭がモーションのヘッダーではありません。',
    pose: 'MMD が読めるポーズではありません: どの行のどこかはプログラムのメッセージにあります。',
    read: 'ファイルを最後まで読めませんでした。',
    path: 'ファイル名が長すぎます。',
    output: '出力がこの変換の別のファイルを上書きしてしまいます。',
    write: '出力を書き込めませんでした (ブラウザのメモリが足りないかもしれません)。',
    options: 'プログラムがこの設定の組み合わせを受け付けませんでした。',
    status: (n) => `プログラムが状態 ${n} で止まりました。`,
    isModel: 'これはモーションではなくモデル (PMX か PMD) です (名前は .vmd ですが)。モデルとして使うには元の拡張子 (.pmx か .pmd) で追加してください。',
    isPose: 'これはモーションではなくポーズ (VPD) です (名前は .vmd ですが)。.vpd の名前で追加してください。',
  },
  modelWhy: {
    'cannot be opened': '読み込めません',
    'not a PMX or PMD model': 'PMX でも PMD でもありません',
    'cut short or damaged': '途中で切れているか壊れています',
    noBone: (bone) => `この変換が書き込むボーン ${bone} がありません`,
    noAxis: (bone) => `${bone} の軸に向きがありません`,
  },
  modelFailed: (why) => `モデルを使えません: ${why}。`,
  modelFix: '捩りを戻す (捩りボーンのないモデル向け) を選ぶか、捩りボーンのあるモデルを追加してください。',
  modelOther: '別のモデルを追加してください。',
  foldIt: '捩りを戻す',
  modelFirst: 'このモデルではこの変換を再生できません: ファイルの下を見てください。',
  worstPlain: (v, f) => `最大の誤差はフレーム ${f} の ${v}°`,
  strays: (bound) => `、${bound}° を超えています`,
  advice: (names, of, bound) => `${names.length === of ? (of > 1 ? 'どのモーションも' : 'このモーションは') : `${names.join('、')} は`}`
    + `通常の変換ではどこかで元のモーションから ${bound}° 以上ずれます: キーフレームの間では腕と捩りボーンが別々に回るためです。`
    + `モーションを保つと、すべてのフレームが ${bound}° 以内になるまでキーフレームを足します。`,
  keepIt: (bound) => `${bound}° 以内に保って変換し直す`,
  worstPose: (v) => `誤差 ${v}° (悪い方の手首)`,
  worstKept: (v, bound, plain) => `最大の誤差 ${v}°、上限 ${bound}° 以内`
    + (plain == null ? '' : ` (通常の変換では ${plain}°)`),
  worstBeyond: (v, bound) => `最大の誤差 ${v}°、上限 ${bound}° を超えています`,
  inMmd: 'MMD では',
  exact: '元のモーションどおりに動きます',
  unmeasured: (n) => `。${n.toLocaleString()} フレームは測れません (数でない回転)`,
  measuring: '誤差を測っています…',
  stale: 'この結果は前回の変換のものです: その後ファイルか設定が変わりました。もう一度変換すると最新になります。',
  show: '表示', shown: (name) => `下に表示中: ${name}`,
  loadingPreview: (name) => `${name} のプレビューを読み込んでいます…`,
  showing: (name, on) => `${name}、${on}で表示しています。`,
  playsWhatItHolds: 'モーションが途中で切れているため、あるぶんだけを再生します。',
  motionUnread: (name) => `プレビューの再生部 (babylon-mmd) が ${name} を読めないため、表示できません。変換とダウンロードには影響しません。`,
  notConverted: (name) => `${name} は変換されなかったため、グラフもプレビューもありません。`,
  details: 'プログラムのメッセージ',
  twistKeyed: (names) => `${names.join('、')} には捩りボーン (腕捩 / 手捩) のキーフレームがすでにあります。変換はその横に自分のキーフレームを足します。`
    + '「モーションを保つ」を使うとそれも考慮します。',
  times: (n) => ` (${n.toLocaleString()} 回)`,
  consoleHead: 'コンソール', consoleEmpty: '変換すると、プログラム自身の出力がここに表示されます。', moreLines: (n) => `… ほか ${n.toLocaleString()} 行は表示していません。`,
  wholeText: '全文をダウンロード',
  chartHead: '悪い方の手首が元のモーションからずれる角度',
  chartHeadThin: '腕のチェーンとほかのボーンが元のモーションからずれる角度',
  frame: 'フレーム', offBy: '悪い方の手首の誤差 (°)', offByThin: '誤差 (°)',
  thinnedLine: '腕のチェーン (間引き後)', otherBones: 'ほかのボーン (間引き後)',
  plain: '通常の変換', kept: '保持', folded: '捩りを戻した結果', bound: '上限',
  worst: (what, frame, value) => `${what}: 最大はフレーム ${frame} の ${value.toFixed(2)}°`,
  noDeviation: (what) => `${what}: すべてのフレームで元のモーションどおりに動きます (0°)。`,
  clickSeeks: 'グラフをクリックすると、そのフレームをプレビューに表示します。',
  previewHead: 'プレビュー', play: '再生', pause: '一時停止', sideBySide: '並べる', overlay: '重ねる',
  frameField: 'フレーム', stepBack: '1 フレーム戻る', stepAhead: '1 フレーム進む', speed: '速さ',
  resetView: '視点を戻す',
  camera: 'カメラ', cameraWhole: 'モーション全体が入る位置', cameraFollow: 'ダンサーを追う',
  input: '元のモーション', output: '変換後',
  mannequin: 'マネキン (組み込みモデルのボーンと捩り軸。モデルを追加するとそのモデルで表示します) ',
  previewFailed: 'プレビューの再生部 (babylon-mmd) がこのモデルを読めないため、マネキンで表示します。変換にはこのモデルを使いました。',
  mannequinInstead: 'マネキン (組み込みモデルのボーンと捩り軸)',
  noWebgl: 'プレビューにはワーカーでの WebGL が必要ですが、このブラウザでは使えません。',
  fromDisk: 'このページはファイルとして開かれたため、ブラウザが変換プログラムを動かせません。'
    + 'フォルダで  python3 -m http.server  を実行し、http://localhost:8000/ を開いてください。',
  stopped: (why) => `変換プログラムが止まりました: ${why}`,
};

const KEY = 'torsel-language';
const stored = () => { try { return localStorage.getItem(KEY); } catch (e) { return null; } };
let current = stored() || (navigator.language.toLowerCase().startsWith('ja') ? 'ja' : 'en');
export const T = { ...(current === 'ja' ? JA : EN) };
export const language = () => current;
const listeners = [];
export const onLanguage = (f) => listeners.push(f);

export function setLanguage(l) {
  current = l;
  try { localStorage.setItem(KEY, l); } catch (e) { /* private windows: not remembered */ }
  Object.assign(T, l === 'ja' ? JA : EN);
  listeners.forEach((f) => f());
}
