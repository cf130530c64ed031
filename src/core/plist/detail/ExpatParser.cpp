#include "core/plist/detail/ExpatParser.hpp"

#include <expat.h>

#include <limits>

namespace plistable::detail {

void ExpatParser::Free::operator()(XML_ParserStruct* parser) const noexcept
{
    XML_ParserFree(parser);
}

ExpatParser::ExpatParser(Handler& handler) : _parser(XML_ParserCreate(nullptr)), _handler(handler)
{
    XML_Parser p = _parser.get();
    if (!p)
        return;
    XML_SetUserData(p, this);
    XML_SetElementHandler(p, &onStartElement, &onEndElement);
    XML_SetCharacterDataHandler(p, &onCharacters);
    // Refusing every entity declaration is what keeps entity expansion (internal "billion laughs"
    // or external files) out; no external entity handler is set, so expat never loads anything.
    XML_SetEntityDeclHandler(p, &onEntityDeclaration);
    // Without this an undeclared entity in a document with an external DTD would vanish silently.
    XML_SetSkippedEntityHandler(p, &onSkippedEntity);
    XML_SetParamEntityParsing(p, XML_PARAM_ENTITY_PARSING_NEVER);
}

ExpatParser::~ExpatParser() = default;

void* ExpatParser::buffer(std::size_t size)
{
    if (!_parser || size > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return nullptr;
    return XML_GetBuffer(_parser.get(), static_cast<int>(size));
}

bool ExpatParser::parseBuffer(std::size_t length, bool isFinal)
{
    if (!_parser)
        return finishParse(XML_STATUS_ERROR);
    return finishParse(XML_ParseBuffer(_parser.get(), static_cast<int>(length), isFinal));
}

bool ExpatParser::parse(std::string_view bytes, bool isFinal)
{
    if (!_parser)
        return finishParse(XML_STATUS_ERROR);
    // expat takes lengths as int; larger inputs go in pieces.
    constexpr std::size_t piece = std::size_t{1} << 30;
    while (bytes.size() > piece) {
        if (!finishParse(XML_Parse(_parser.get(), bytes.data(), static_cast<int>(piece), XML_FALSE)))
            return false;
        bytes.remove_prefix(piece);
    }
    return finishParse(XML_Parse(_parser.get(), bytes.data(), static_cast<int>(bytes.size()), isFinal));
}

bool ExpatParser::finishParse(int status)
{
    if (status != XML_STATUS_ERROR)
        return true;
    if (!_parser) {
        _errorMessage = "out of memory";
        return false;
    }
    if (_stoppedByHandler || !_errorMessage.empty())
        return false;
    _errorMessage = XML_ErrorString(XML_GetErrorCode(_parser.get()));
    _errorPosition = position();
    return false;
}

void ExpatParser::stop()
{
    _stoppedByHandler = true;
    XML_StopParser(_parser.get(), XML_FALSE);
}

XmlPosition ExpatParser::position() const
{
    if (!_parser)
        return {};
    XML_Parser p = _parser.get();
    const XML_Index byteIndex = XML_GetCurrentByteIndex(p);
    return XmlPosition{XML_GetCurrentLineNumber(p), XML_GetCurrentColumnNumber(p) + 1,
                       byteIndex < 0 ? 0 : static_cast<std::uint64_t>(byteIndex)};
}

void ExpatParser::refuse(std::string message)
{
    if (!_errorMessage.empty())
        return;
    _errorMessage = std::move(message);
    _errorPosition = position();
    XML_StopParser(_parser.get(), XML_FALSE);
}

void ExpatParser::onStartElement(void* self, const char* name, const char** /*attributes*/)
{
    auto& parser = *static_cast<ExpatParser*>(self);
    // expat may still deliver an event that was already under way when the parser was stopped.
    if (!parser._stoppedByHandler && parser._errorMessage.empty())
        parser._handler.xmlStartElement(name);
}

void ExpatParser::onEndElement(void* self, const char* name)
{
    auto& parser = *static_cast<ExpatParser*>(self);
    if (!parser._stoppedByHandler && parser._errorMessage.empty())
        parser._handler.xmlEndElement(name);
}

void ExpatParser::onCharacters(void* self, const char* text, int length)
{
    auto& parser = *static_cast<ExpatParser*>(self);
    if (parser._stoppedByHandler || !parser._errorMessage.empty())
        return;
    if (parser._characterSink != nullptr) {
        if (length == 1) // a line break, which expat reports on its own
            parser._characterSink->push_back(*text);
        else
            parser._characterSink->append(text, static_cast<std::size_t>(length));
    } else
        parser._handler.xmlCharacters(std::string_view(text, static_cast<std::size_t>(length)));
}

void ExpatParser::onEntityDeclaration(void* self, const char* name, int /*isParameterEntity*/,
                                      const char* /*value*/, int /*valueLength*/, const char* /*base*/,
                                      const char* /*systemId*/, const char* /*publicId*/,
                                      const char* /*notationName*/)
{
    static_cast<ExpatParser*>(self)->refuse(std::string("entity declarations are not accepted (\"") + name + "\")");
}

void ExpatParser::onSkippedEntity(void* self, const char* name, int /*isParameterEntity*/)
{
    static_cast<ExpatParser*>(self)->refuse(std::string("undeclared entity \"") + name + "\"");
}

} // namespace plistable::detail
