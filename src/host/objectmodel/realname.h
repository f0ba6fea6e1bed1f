// Real names: how a script names an object of the application so that a lookup finds it again. A real
// name is a Tcl-style list of property/value pairs, for example
//
//     {type Button text OK container {type MainWindow name mainWindow}}
//
// An object matches when every pair matches: `type` names the object's class or one of its bases,
// `name` the object's own name, `container` a real name that one of the object's ancestors matches,
// `occurrence` picks the n-th match (1-based) in tree order, and any other key is a property whose text
// must equal the value. For `name` and properties, a value "-wildcard PATTERN" or "-regularexpression
// EXPRESSION" (a list of two) matches the whole text by the pattern instead.
#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace RealName {

using Pairs = QList<QPair<QString, QString>>;

// Splits a Tcl-style list into its elements; false when the text is not a well-formed list.
bool splitList(const QString& text, QStringList* elements);
// Quotes one element so that splitList gives it back unchanged.
QString quoteElement(const QString& element);
QString joinList(const QStringList& elements);

// The pairs of a real name; false when the text is not a list of pairs.
bool parse(const QString& realName, Pairs* pairs);
QString format(const Pairs& pairs);
// The object as a user reads it: its name (or else its text) and its type joined by "_", or the type
// alone; the base of the symbolic names made for it.
QString readableName(const Pairs& pairs);

// Whether a text matches a real name's value: "-wildcard PATTERN" and "-regularexpression EXPRESSION"
// (lists of two) match the whole text by the pattern, any other value only its own text.
bool valueMatches(const QString& text, const QString& value);

} // namespace RealName
