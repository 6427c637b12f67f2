#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The XML side of the wimlib backend: cutting the archive's document into the
// images' own elements, and reading the editable texts out of an element that
// a caller hands back. Plain Qt, so it is tested without archives.
namespace wimxml {

// Each image's own <IMAGE ...>...</IMAGE> element, exactly as the document
// spells it, for images 1..imageCount. The INDEX attribute places an element;
// without one, document order does. An image the document does not describe
// (or a document that cannot be parsed) gets an empty <IMAGE INDEX="n"></IMAGE>.
QStringList imageElements(const QString &document, int imageCount);

// The texts a caller may change.
struct EditableTexts {
    QString name;
    QString description;
    QString flags;
    QString displayName;
    QString displayDescription;
};

// The decoded values of NAME, DESCRIPTION, FLAGS, DISPLAYNAME and
// DISPLAYDESCRIPTION directly under an <IMAGE> root; a missing element is an
// empty value. Leading byte-order marks and trailing NULs are ignored. Returns
// nothing for malformed XML, another root element, or a text element that
// holds elements of its own.
std::optional<EditableTexts> editableTexts(const QString &element);

}  // namespace wimxml
