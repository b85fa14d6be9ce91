"""Argument binding messages and the notes on failed conversions."""

import pytest

from tessarils import Backend, Tessaril

from tessarils_testing import CONFLICTING_KEYS, MISSING_KEY, Index, raises_message

AES = Backend.AES256_GCM
BOX = Tessaril(AES, key=7)
TOKEN = BOX.encrypt(b"x")


class Key(str):
    """A keyword name that is equal to, but not the same object as, the interned one."""


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: Tessaril(AES, 1, None, 4),
         "Tessaril.__new__() takes from 1 to 3 positional arguments but 4 were given"),
        (lambda: Tessaril(AES, 1, key=2), "Tessaril.__new__() got multiple values for argument 'key'"),
        (lambda: Tessaril(AES, key_env=None, kee=1), "Tessaril.__new__() got an unexpected keyword argument 'kee'"),
        (lambda: Tessaril(), "Tessaril.__new__() missing 1 required positional argument: 'backend'"),
        (lambda: BOX.encrypt(b"x", None, None, None),
         "Tessaril.encrypt() takes from 1 to 3 positional arguments but 4 were given"),
        (lambda: BOX.encrypt(), "Tessaril.encrypt() missing 1 required positional argument: 'data'"),
        (lambda: BOX.encrypt(b"x", expiry=5), "Tessaril.encrypt() got an unexpected keyword argument 'expiry'"),
        (lambda: BOX.encrypt(b"x", data=b"y"), "Tessaril.encrypt() got multiple values for argument 'data'"),
        (lambda: BOX.decrypt(TOKEN, "session"), "Tessaril.decrypt() takes 1 positional arguments but 2 were given"),
        (lambda: BOX.decrypt(), "Tessaril.decrypt() missing 1 required positional argument: 'token'"),
        (lambda: BOX.decrypt_for(TOKEN), "Tessaril.decrypt_for() missing 1 required positional argument: 'purpose'"),
        (lambda: BOX.decrypt_for(purpose="p"),
         "Tessaril.decrypt_for() missing 1 required positional argument: 'token'"),
        (lambda: BOX.decrypt_for(),
         "Tessaril.decrypt_for() missing 2 required positional arguments: 'token' and 'purpose'"),
        (lambda: BOX.decrypt_for(TOKEN, "a", "b"),
         "Tessaril.decrypt_for() takes 2 positional arguments but 3 were given"),
        (lambda: BOX.decrypt_for(TOKEN, token=TOKEN),
         "Tessaril.decrypt_for() got multiple values for argument 'token'"),
    ],
)
def test_binding_errors(call, message):
    raises_message(TypeError, message, call)


def test_keywords_bind_by_value_in_any_order():
    token = BOX.encrypt(purpose="p", expires_at=None, data=b"kw")
    assert BOX.decrypt_for(purpose="p", token=token) == b"kw"
    built = "".join(["pur", "pose"])
    assert BOX.decrypt_for(**{Key("token"): token, built: "p"}) == b"kw"
    assert Tessaril(**{Key("backend"): AES, "".join(["k", "ey"]): 7}).decrypt(TOKEN) == b"x"


@pytest.mark.parametrize(
    "call, exception, message, param",
    [
        (lambda: Tessaril(0, key=1), TypeError, "'int' object is not an instance of 'Backend'", "backend"),
        (lambda: Tessaril(None, key=1), TypeError, "'None' is not an instance of 'Backend'", "backend"),
        (lambda: Tessaril(Backend, key=1), TypeError, "'type' object is not an instance of 'Backend'", "backend"),
        (lambda: Tessaril(AES, key="42"), TypeError, "'str' object cannot be interpreted as an integer", "key"),
        (lambda: Tessaril(AES, key=-1), ValueError, "can't convert negative int to unsigned", "key"),
        (lambda: Tessaril(AES, key=Index(-2**200)), ValueError, "can't convert negative int to unsigned", "key"),
        (lambda: Tessaril(AES, key=2**128), OverflowError, "Python int larger than 128 bits", "key"),
        (lambda: Tessaril(AES, key=2**150), OverflowError, "Python int larger than 128 bits", "key"),
        (lambda: Tessaril(AES, key_env=b"K"), TypeError, "'bytes' object is not an instance of 'str'", "key_env"),
        (lambda: Tessaril(AES, key="bad", key_env="X"), TypeError,
         "'str' object cannot be interpreted as an integer", "key"),
        (lambda: Tessaril(AES, key=1, key_env=1), TypeError, "'int' object is not an instance of 'str'", "key_env"),
        (lambda: BOX.encrypt("text"), TypeError, "'str' object is not an instance of 'bytes'", "data"),
        (lambda: BOX.encrypt(bytearray(b"x")), TypeError, "'bytearray' object is not an instance of 'bytes'", "data"),
        (lambda: BOX.encrypt(memoryview(b"x")), TypeError, "'memoryview' object is not an instance of 'bytes'",
         "data"),
        (lambda: BOX.encrypt(b"x", expires_at=-1), OverflowError, "can't convert negative int to unsigned",
         "expires_at"),
        (lambda: BOX.encrypt(b"x", expires_at=2**64), OverflowError, "int too big to convert", "expires_at"),
        (lambda: BOX.encrypt(b"x", expires_at=Index(2**64)), OverflowError, "int too big to convert", "expires_at"),
        (lambda: BOX.encrypt(b"x", expires_at=1.5), TypeError, "'float' object cannot be interpreted as an integer",
         "expires_at"),
        (lambda: BOX.encrypt(b"x", purpose=b"p"), TypeError, "'bytes' object is not an instance of 'str'", "purpose"),
        (lambda: BOX.encrypt(b"\xff", purpose=1), TypeError, "'int' object is not an instance of 'str'", "purpose"),
        (lambda: BOX.decrypt(TOKEN.encode()), TypeError, "'bytes' object is not an instance of 'str'", "token"),
        (lambda: BOX.decrypt(None), TypeError, "'None' is not an instance of 'str'", "token"),
        (lambda: BOX.decrypt_for(TOKEN, None), TypeError, "'None' is not an instance of 'str'", "purpose"),
    ],
)
def test_conversion_failures_carry_a_note(call, exception, message, param):
    error = raises_message(exception, message, call)
    assert error.__notes__ == [f"while processing '{param}'"]


# Tokens longer than any token could be in code points are not converted,
# yet a surrogate in one must fail exactly as the conversion does.
LONG_SURROGATES = ["\u00e9" * 32768 + "\ud800\udfff" + "x", "\U0001f600" * 40000 + "\udc00"]


@pytest.mark.parametrize(
    "call, text, param",
    [
        (lambda t: Tessaril(AES, key_env=t), "\ud800", "key_env"),
        (lambda t: BOX.encrypt(b"x", purpose=t), "\udcff", "purpose"),
        (lambda t: BOX.decrypt(t), "a\ud800\udc00b\ud801", "token"),
        (lambda t: BOX.decrypt(t), LONG_SURROGATES[0], "token"),
        (lambda t: BOX.decrypt_for(t, "p"), LONG_SURROGATES[1], "token"),
    ],
)
def test_lone_surrogates(call, text, param):
    # Raised while another exception is handled, the error is chained to it
    # as the conversion's is, whichever way the token was tested.
    handled = LookupError("handled")
    try:
        raise handled
    except LookupError:
        with pytest.raises(UnicodeEncodeError) as conversion:
            text.encode()
        with pytest.raises(UnicodeEncodeError) as info:
            call(text)
    got, expected = info.value, conversion.value
    assert (str(got), got.args[2:], got.object is text) == (str(expected), expected.args[2:], True)
    chaining = [(e.__context__, e.__cause__, e.__suppress_context__) for e in (got, expected)]
    assert chaining == [(handled, None, False)] * 2
    assert got.__notes__ == [f"while processing '{param}'"]


class Stubborn(Exception):
    def add_note(self, note):
        raise RuntimeError("cannot note")


class Raising:
    def __index__(self):
        raise Stubborn("from __index__")


@pytest.mark.parametrize(
    "call", [lambda: Tessaril(AES, key=Raising()), lambda: BOX.encrypt(b"x", expires_at=Raising())]
)
def test_a_note_that_cannot_be_added_is_dropped(call):
    error = raises_message(Stubborn, "from __index__", call)
    assert not hasattr(error, "__notes__") and error.__context__ is None


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: BOX.encrypt(b"\xff"), "invalid utf-8 sequence of 1 bytes from index 0"),
        (lambda: BOX.encrypt(b"ok\xe2\x28\xa1"), "invalid utf-8 sequence of 1 bytes from index 2"),
        (lambda: BOX.encrypt(b"\xf0\x9f\x98\x80\xed\xa0\x80"), "invalid utf-8 sequence of 1 bytes from index 4"),
        (lambda: BOX.encrypt(b"a\xe2\x82("), "invalid utf-8 sequence of 2 bytes from index 1"),
        (lambda: BOX.encrypt(b"\xf0\x9f\x98("), "invalid utf-8 sequence of 3 bytes from index 0"),
        (lambda: BOX.encrypt(b"ab\xe2\x82"), "incomplete utf-8 byte sequence from index 2"),
        (lambda: BOX.encrypt(b"\xf0\x9f\x98"), "incomplete utf-8 byte sequence from index 0"),
        (lambda: Tessaril(AES), MISSING_KEY),
        (lambda: Tessaril(AES, key=None, key_env=None), MISSING_KEY),
        (lambda: Tessaril(AES, key=1, key_env="TESSARILS_SURELY_UNSET"),
         CONFLICTING_KEYS),
    ],
)
def test_value_errors_have_no_note(call, message):
    error = raises_message(ValueError, message, call)
    assert error.args == (message,) and not hasattr(error, "__notes__")
