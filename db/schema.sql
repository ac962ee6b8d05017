-- K500100 database: the masters the monitor and the converters read and the process history
-- they write. The same text runs on SQLite (embedded default) and PostgreSQL (shared
-- deployment): plain types only, names that begin with a digit in double quotes, statements
-- separated by semicolons at line ends. Texts are sized in characters.

-- Centers of the EDI link: which terminal runs them and how their messages arrive.
CREATE TABLE FL1903EDI制御マスタ (
    センターコード          VARCHAR(12)   NOT NULL,
    相手先種別              VARCHAR(1)    NOT NULL,
    センター名              VARCHAR(60),
    送受信方式              VARCHAR(2),
    実行端末名              VARCHAR(64),
    TCX受信ファイルパス     VARCHAR(1000),
    送受信データ形式        VARCHAR(2),
    相手先メールアドレス    VARCHAR(255),
    PRIMARY KEY (センターコード, 相手先種別)
);

-- Names of coded values, for example the transfer methods under 区分 '送受信方式'.
CREATE TABLE 区分マスタ (
    区分                    VARCHAR(20)   NOT NULL,
    区分ｺｰﾄﾞ                VARCHAR(10)   NOT NULL,
    区分名称                VARCHAR(40),
    PRIMARY KEY (区分, 区分ｺｰﾄﾞ)
);

-- One row per job (枝番 0) and per stage of the job (枝番 1, 2, ...). The primary key's index
-- gives the highest serial, and the highest branch of a serial, without reading other rows.
CREATE TABLE FL1102処理履歴ファイル (
    通番                    INTEGER       NOT NULL,
    枝番                    SMALLINT      NOT NULL,
    送受信種別              VARCHAR(2),
    相手先種別              VARCHAR(2),
    処理種別                VARCHAR(2),
    処理開始日付            DATE,
    処理開始時刻            TIME,
    センターコード          VARCHAR(12),
    処理終了日付            DATE,
    処理終了時刻            TIME,
    相手先企業コード        VARCHAR(12),
    BPID                    VARCHAR(8),
    取引情報区分            VARCHAR(4),
    最終シーケンス番号      INTEGER,
    入力レコード数          INTEGER,
    入力ファイルサイズ      INTEGER,
    出力レコード数          INTEGER,
    出力ファイルサイズ      INTEGER,
    格納モード              VARCHAR(2),
    終了コード              VARCHAR(4),
    詳細コード              VARCHAR(4),
    ファイル名              VARCHAR(1000),
    PRIMARY KEY (通番, 枝番)
);
-- A center's jobs, newest first, for the history view.
CREATE INDEX FL1102処理履歴ファイル_センター ON FL1102処理履歴ファイル (センターコード, 通番);

-- Partner companies served through a center; the first one is the maker code of a registration.
CREATE TABLE FL1915センタ利用企業マスタ (
    センターコード          VARCHAR(12)   NOT NULL,
    相手先企業コード        VARCHAR(12)   NOT NULL,
    PRIMARY KEY (センターコード, 相手先企業コード)
);

-- Format-level settings per information kind and business process.
CREATE TABLE FL1902フォーマット情報マスタ (
    情報区分コード          VARCHAR(4)    NOT NULL,
    BPID                    VARCHAR(8)    NOT NULL,
    様式識別                VARCHAR(20),
    シンタックスIDバージョン VARCHAR(6),
    格納モード              VARCHAR(1),
    "1バイト文字集合"       VARCHAR(20),
    "2バイト文字集合"       VARCHAR(20),
    ローカル形式            VARCHAR(20),
    XML文字コード           VARCHAR(20),
    PRIMARY KEY (情報区分コード, BPID)
);

-- Item definitions: message side (フォーマット種別 'E') and local side ('L').
CREATE TABLE FL1903レコードフォーマット情報マスタ (
    フォーマット種別        VARCHAR(1)    NOT NULL,
    情報区分コード          VARCHAR(4)    NOT NULL,
    BPID                    VARCHAR(8)    NOT NULL,
    項目通番                INTEGER       NOT NULL,
    対応項目通番            INTEGER,
    レベル番号              INTEGER,
    項目№                  INTEGER,
    項目位置                VARCHAR(10),
    項目名称                VARCHAR(60),
    属性                    VARCHAR(2),
    長さ                    INTEGER,
    小数部長さ              INTEGER,
    マルチ明細番号          VARCHAR(10),
    繰返し数                INTEGER,
    固定項目値              VARCHAR(100),
    変換エラー対処          VARCHAR(20),
    PRIMARY KEY (フォーマット種別, 情報区分コード, BPID, 項目通番)
);

-- Message-group settings per partner, own company and information kind (CII group header).
CREATE TABLE FL1916メッセージグループ情報マスタ (
    相手先コード            VARCHAR(12)   NOT NULL,
    自社コード              VARCHAR(12)   NOT NULL,
    情報区分                VARCHAR(4)    NOT NULL,
    BPID                    VARCHAR(8),
    運用モード              VARCHAR(1),
    発信VANコード           VARCHAR(12),
    発信センターコード      VARCHAR(12),
    発信者コード            VARCHAR(12),
    受信VANコード           VARCHAR(12),
    受信センターコード      VARCHAR(12),
    受信者コード            VARCHAR(12),
    交換参照番号            VARCHAR(10),
    シンタックスIDバージョン VARCHAR(6),
    格納モード              VARCHAR(1),
    "8ビット文字コード"     VARCHAR(1),
    "16ビット文字コード"    VARCHAR(1),
    短縮表示                VARCHAR(1),
    発信VANコード管理機関コード     VARCHAR(3),
    発信センターコード管理機関コード VARCHAR(3),
    発信者コード管理機関コード      VARCHAR(3),
    受信VANコード管理機関コード     VARCHAR(3),
    受信センターコード管理機関コード VARCHAR(3),
    受信者コード管理機関コード      VARCHAR(3),
    PRIMARY KEY (相手先コード, 自社コード, 情報区分)
);

-- Operators of the sign-on screens.
CREATE TABLE FL0003担当者マスタ (
    担当者コード            VARCHAR(10)   NOT NULL,
    担当者名                VARCHAR(40),
    パスワード              VARCHAR(20),
    パスワード変更日付      DATE,
    PRIMARY KEY (担当者コード)
);
