// Tag expressions (`@smoke and not (@slow or @flaky)`): a recursive-descent parser into a small tree of
// nodes, and its evaluation against a scenario's tags.
#include "gherkin.h"

namespace Gherkin {

class TagExpressionParser {
public:
    TagExpressionParser(const QByteArray& text, TagExpression* expression) : text(text), e(expression) {}

    bool parse(QString* error)
    {
        if (!tokenize(error))
            return false;
        if (tokens.isEmpty())
            return true;
        const int root = orExpression();
        if (root >= 0 && position < tokens.size())
            problem = QStringLiteral("unexpected '%1'").arg(QString::fromUtf8(tokens.at(position).text));
        if (!problem.isEmpty()) {
            *error = QStringLiteral("tag expression '%1' could not be parsed: %2")
                         .arg(QString::fromUtf8(text), problem);
            return false;
        }
        e->root = root;
        return true;
    }

private:
    struct Token {
        enum Kind { Word, Operator, Open, Close } kind;
        QByteArray text;
    };

    bool tokenize(QString* error)
    {
        QByteArray word;
        bool inWord = false;
        bool escaped = false; // an escaped word is never an operator
        auto endWord = [&]() {
            if (!inWord)
                return;
            const bool op = !escaped && (word == "and" || word == "or" || word == "not");
            escaped = false;
            tokens.append(Token{op ? Token::Operator : Token::Word, word});
            word.clear();
            inWord = false;
        };
        for (int i = 0; i < text.size(); ++i) {
            const char c = text.at(i);
            if (c == '\\') {
                if (i + 1 == text.size()) {
                    *error = QStringLiteral("tag expression '%1' could not be parsed: it ends in a backslash")
                                 .arg(QString::fromUtf8(text));
                    return false;
                }
                word += text.at(++i);
                inWord = true;
                escaped = true;
            } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
                endWord();
            } else if (c == '(' || c == ')') {
                endWord();
                tokens.append(Token{c == '(' ? Token::Open : Token::Close, QByteArray(1, c)});
            } else {
                word += c;
                inWord = true;
            }
        }
        endWord();
        return true;
    }

    int add(TagExpression::Node::Kind kind, int left, int right, const QByteArray& tag = QByteArray())
    {
        TagExpression::Node node;
        node.kind = kind;
        node.left = left;
        node.right = right;
        node.tag = tag;
        e->nodes.append(node);
        return e->nodes.size() - 1;
    }

    bool at(Token::Kind kind, const char* word = nullptr) const
    {
        return position < tokens.size() && tokens.at(position).kind == kind &&
               (!word || tokens.at(position).text == word);
    }

    int orExpression()
    {
        int left = andExpression();
        while (left >= 0 && at(Token::Operator, "or")) {
            ++position;
            const int right = andExpression();
            if (right < 0)
                return -1;
            left = add(TagExpression::Node::Or, left, right);
        }
        return left;
    }

    int andExpression()
    {
        int left = notExpression();
        while (left >= 0 && at(Token::Operator, "and")) {
            ++position;
            const int right = notExpression();
            if (right < 0)
                return -1;
            left = add(TagExpression::Node::And, left, right);
        }
        return left;
    }

    int notExpression()
    {
        if (at(Token::Operator, "not")) {
            ++position;
            const int operand = notExpression();
            return operand < 0 ? -1 : add(TagExpression::Node::Not, operand, -1);
        }
        return primary();
    }

    int primary()
    {
        if (position == tokens.size()) {
            problem = position == 0 ? QStringLiteral("it is empty")
                                    : QStringLiteral("a tag is missing after '%1'")
                                          .arg(QString::fromUtf8(tokens.at(position - 1).text));
            return -1;
        }
        const Token token = tokens.at(position++);
        switch (token.kind) {
        case Token::Word:
            return add(TagExpression::Node::Tag, -1, -1, token.text);
        case Token::Open: {
            const int inner = orExpression();
            if (inner < 0)
                return -1;
            if (!at(Token::Close)) {
                problem = QStringLiteral("a '(' is not closed");
                return -1;
            }
            ++position;
            return inner;
        }
        default:
            problem = QStringLiteral("a tag is missing before '%1'").arg(QString::fromUtf8(token.text));
            return -1;
        }
    }

    QByteArray text;
    TagExpression* e;
    QList<Token> tokens;
    int position = 0;
    QString problem;
};

bool TagExpression::parse(const QByteArray& text, TagExpression* expression, QString* error)
{
    *expression = TagExpression();
    TagExpression parsed;
    TagExpressionParser parser(text, &parsed);
    if (!parser.parse(error))
        return false;
    *expression = parsed;
    return true;
}

bool TagExpression::accepts(const QList<QByteArray>& tags) const
{
    return root < 0 || evaluate(root, tags);
}

bool TagExpression::evaluate(int index, const QList<QByteArray>& tags) const
{
    const Node& node = nodes.at(index);
    switch (node.kind) {
    case Node::Tag:
        return tags.contains(node.tag);
    case Node::Not:
        return !evaluate(node.left, tags);
    case Node::And:
        return evaluate(node.left, tags) && evaluate(node.right, tags);
    case Node::Or:
        return evaluate(node.left, tags) || evaluate(node.right, tags);
    }
    return false;
}

} // namespace Gherkin
