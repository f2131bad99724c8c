#pragma once

// Filter expressions of the database engine: a small language of comparisons, LIKE, IN,
// arithmetic and a few functions over the fields of a data set, parsed once into a tree
// of typed nodes and evaluated for each record. The same evaluator serves as the engine's
// value comparison (CompareFieldValue).

#include "dataaccess/DBError.h"
#include "dataaccess/FieldType.h"

#include <QByteArray>
#include <QFlags>
#include <QString>
#include <QVariant>

#include <memory>
#include <string_view>
#include <vector>

enum TFilterOption : quint8 {
    foCaseInsensitive = 0x01,
    foNoPartialCompare = 0x02,
};
Q_DECLARE_FLAGS(TFilterOptions, TFilterOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TFilterOptions)

namespace filtermsg {
inline constexpr const char *kSExprInvalidChar = "Invalid filter expression character: '%s'";
inline constexpr const char *kSExprStringTerminator = "Unterminated string constant";
inline constexpr const char *kSExprNameTerminator = "Unterminated field name";
inline constexpr const char *kSExprLParenExpected = "'(' expected but %s found";
inline constexpr const char *kSExprRParenExpected = "')' expected but %s found";
inline constexpr const char *kSExprRParenOrCommaExpected = "')' or ',' expected but %s found";
inline constexpr const char *kSExprExpected = "Expression expected but %s found";
inline constexpr const char *kSExprEmptyInList = "IN predicate list may not be empty";
inline constexpr const char *kSExprIncorrect = "Filter expression incorrectly terminated";
inline constexpr const char *kSExprTypeMis = "Type mismatch in expression";
inline constexpr const char *kSExprNothing = "nothing";
// Our own refusals: a tree too deep to walk safely, and a number too large to round.
inline constexpr const char *kSExprTooComplex = "Filter expression too complex";
inline constexpr const char *kSInvalidFloatOp = "Invalid floating point operation";
} // namespace filtermsg

enum TExprNodeKind : quint8 {
    enField = 0,
    enConst = 1,
    enFunc = 2,
    enOperator = 3,
};

enum TExprOperator : quint8 {
    toNOTDEFINED = 0,
    toEQ = 3,
    toNE = 4,
    toGT = 5,
    toLT = 6,
    toGE = 7,
    toLE = 8,
    toNOT = 9,
    toAND = 10,
    toOR = 11,
    toADD = 12,
    toSUB = 13,
    toMUL = 14,
    toDIV = 15,
    toLIKE = 17,
    toIN = 18,
};

enum TExprFunction : quint8 {
    fnNONE = 0,
    fnUPPER = 1,
    fnLOWER = 2,
    fnSUBSTRING = 3,
    fnTRIM = 4,
    fnTRIMLEFT = 5,
    fnTRIMRIGHT = 6,
    fnYEAR = 7,
    fnMONTH = 8,
    fnDAY = 9,
    fnHOUR = 10,
    fnMINUTE = 11,
    fnSECOND = 12,
    fnGETDATE = 13,
};

enum TExprToken : quint8 {
    etEnd,
    etSymbol,     // a word
    etName,       // a bracketed field name
    etLiteral,    // a quoted string
    etNumLiteral, // a number
    etLParen,
    etRParen,
    etComma,
    etADD,
    etSUB,
    etMUL,
    etDIV,
    etEQ,
    etNE,
    etGE,
    etLE,
    etGT,
    etLT,
    etLIKE,
    etIN,
};

class TExprNodes;
class TExprParserBase;

// One node of a parsed expression. Values are kept in the stored formats: 16-bit and
// 32-bit integers, 64-bit integers, 8-byte floats, a truth byte, a day number, the
// milliseconds of the day, milliseconds as a float, and NUL-terminated UTF-8 text.
class TExprNode
{
public:
    explicit TExprNode(TExprNodes *AOwner);
    TExprNode(const TExprNode &) = delete;
    TExprNode &operator=(const TExprNode &) = delete;

    TExprNodes *Owner = nullptr;
    TExprNode *Next = nullptr;
    TExprNodeKind Kind = enConst;
    TExprOperator Operator = toNOTDEFINED;
    TExprFunction Function = fnNONE;
    QString Name;
    // The value: the node's own buffer, or for a field the bytes in the record buffer.
    const char *Data = nullptr;
    int DataSize = 0;
    TExprNode *Left = nullptr;
    TExprNode *Right = nullptr;
    TFieldType DataType = ftUnknown;
    std::vector<TExprNode *> Args;
    bool ReadAsText = false;
    int FieldIndex = -1;
    QString TextValue;
    int PartialLength = -1;
    // Height of the subtree below and including this node.
    int Depth = 1;

    // Resizes the node's own value buffer (zero-filled) and points Data at it.
    char *SetDataSize(int Size);
    // Points the node at a value it does not own.
    void SetExternalData(const char *AData, int Size);
    char *Buffer() { return m_Buffer.data(); }

    bool AsBoolean() const;
    qint64 AsInteger() const; // integer, date and time kinds
    double AsFloat() const;   // every numeric and date/time kind
    QByteArray AsText() const;
    // The same text without a copy, valid while the node's data is.
    std::string_view TextView() const;

    void SetBoolean(bool Value);
    void SetText(const QByteArray &Value);

private:
    std::vector<char> m_Buffer;
};

// Every node of one parse, on one list (newest first) so that freeing the list frees all.
class TExprNodes
{
public:
    explicit TExprNodes(TExprParserBase *AOwner);
    ~TExprNodes();
    TExprNodes(const TExprNodes &) = delete;
    TExprNodes &operator=(const TExprNodes &) = delete;

    void Clear();
    TExprNode *NewNode(TExprNodeKind Kind);
    TExprNode *NewConstNode(TFieldType DataType);
    // Applies the type rules; a string constant facing a date or time becomes one.
    TExprNode *NewOperatorNode(TExprOperator Operator, TExprNode *Left, TExprNode *Right);
    TExprNode *NewInNode(TExprNode *Left, const std::vector<TExprNode *> &Items);
    TExprNode *NewFuncNode(const QString &Name, TExprFunction Function, const std::vector<TExprNode *> &Args);
    TExprNode *NewFieldNode(const QString &Name, TFieldType DataType);

    TExprParserBase *Owner = nullptr;
    TExprNode *FirstNode = nullptr;
    TExprNode *Root = nullptr;
};

// The text and the tokenizer state.
class TSyntaxParserBase
{
public:
    virtual ~TSyntaxParserBase() = default;

protected:
    QString m_Text;
    QByteArray m_AnsiText;
    TExprToken m_Token = etEnd;
    TExprToken m_PrevToken = etEnd;
    QByteArray m_TokenString;
    int m_SourcePos = 0;

    virtual void NextToken() = 0;
    // The current token for a message: in single quotes, or "nothing" at the end.
    QString TokenName() const;
};

// Owns the nodes; drives parsing and evaluation.
class TExprParserBase : public TSyntaxParserBase
{
public:
    TExprParserBase();
    ~TExprParserBase() override;

    virtual void Parse(const QString &Text);
    virtual void Evaluate(TFilterOptions Options, QVariant &Result);

    TExprNodes *ExprNodes() const { return m_ExprNodes.get(); }

    // The operations the expression asks of whatever holds the fields.
    virtual TFieldType GetFieldDataType(const QString &Name) = 0;
    virtual void GetFieldValue(TExprNode *Node) = 0;
    virtual TFieldType GetFuncDataType(const QString &Name);
    virtual bool TokenSymbolIsFunc(const QString &Name);

    // Evaluates a node and everything below it.
    static void Calculate(TExprNode *Node, TFilterOptions Options);

protected:
    std::unique_ptr<TExprNodes> m_ExprNodes;
    TFilterOptions m_FilterOptions;

    // The whole expression of the current text; m_Token is its first token.
    virtual TExprNode *ParseExpr() = 0;
};

// What a filter needs of the data set whose records it filters.
class TFilterFieldSource
{
public:
    virtual ~TFilterFieldSource() = default;
    // Index of the field in the data set's field list; -1 when there is none of that name.
    virtual int FilterFieldIndex(const QString &Name) const = 0;
    virtual TFieldType FilterFieldType(int FieldIndex) const = 0;
    // The field's bytes in the active record buffer (stored format), and their count;
    // nullptr when there is no active record.
    virtual const char *FilterFieldData(int FieldIndex, int &Size) const = 0;
    // The current value of a blob field as text.
    virtual QString FilterFieldText(int FieldIndex) const = 0;
};

// The tokenizer, the grammar and the link to a data set's fields.
class TFilterParser : public TExprParserBase
{
public:
    explicit TFilterParser(TFilterFieldSource *DataSet);

    TFilterFieldSource *DataSet() const { return m_DataSet; }

    TFieldType GetFieldDataType(const QString &Name) override;
    void GetFieldValue(TExprNode *Node) override;

protected:
    TFilterFieldSource *m_DataSet;
    int m_Nesting = 0;

    void NextToken() override;
    TExprNode *ParseExpr() override;

private:
    void SkipBlanks();
    bool NextIsLParen() const;
    TExprNode *ParseOr();
    TExprNode *ParseAnd();
    TExprNode *ParseNot();
    TExprNode *ParseCompare();
    TExprNode *ParseAdd();
    TExprNode *ParseMul();
    TExprNode *ParsePrimary();
    std::vector<TExprNode *> ParseList(bool AllowEmpty);
};

// Compares two stored values of one field type: 0 equal, -1 when A is less, else 1.
// String values must be NUL-terminated. With PartialKey only as many characters as A
// holds take part.
int CompareFieldValue(const void *A, const void *B, bool PartialKey, bool CaseInsensitive, TFieldType FieldType);

// The LIKE match: "%" any run of characters, "_" any one character, no escape.
bool LikeMatch(const QString &Value, const QString &Pattern, bool CaseSensitive);
