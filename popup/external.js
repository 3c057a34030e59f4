// window.external for the notice page. The web channel runs in the page's
// own world, so this object is built before the page's first script runs.
// Calls made before the channel is ready wait in a queue. Opacity is kept
// here as well, so that a value written can be read back at once; this
// object is its only writer, so the copy never goes stale (taking the
// popup's value when the channel opens would undo writes still queued).
(function (QWebChannel) {
    'use strict';
    if (typeof qt === 'undefined' || !qt.webChannelTransport) return;

    var remote = null;
    var waiting = [];
    var opacity = 1;

    function send(call) {
        if (remote) call(remote);
        else waiting.push(call);
    }

    new QWebChannel(qt.webChannelTransport, function (channel) {
        remote = channel.objects.external;
        waiting.splice(0).forEach(function (call) { call(remote); });
    });

    var NUMBER = /^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$/;

    // The same rules as the popup applies: numbers, numeric texts, booleans.
    function toDouble(value) {
        var number = null;
        if (typeof value === 'number') number = value;
        else if (typeof value === 'boolean') number = value ? 1 : 0;
        else if (typeof value === 'string' && NUMBER.test(value.trim())) number = Number(value.trim());
        return number !== null && isFinite(number) ? number : null;
    }

    function toInt32(value) {
        var number = toDouble(value);
        if (number === null) return null;
        var rounded = Math.round(number);
        if (Math.abs(number % 1) === 0.5 && rounded % 2 !== 0) rounded -= 1;  // half to even
        return rounded >= -2147483648 && rounded <= 2147483647 ? rounded : null;
    }

    function checkCount(name, args, count) {
        if (args.length !== count)
            throw new RangeError('external.' + name + ': expects ' + count + ' argument(s), got ' +
                                 args.length);
    }

    var members = {
        close: function () {
            send(function (r) { r.close(); });
        },
        keepalive: function () {
            checkCount('keepalive', arguments, 1);
            var ms = toInt32(arguments[0]);
            if (ms === null) throw new TypeError('external.keepalive: type mismatch');
            send(function (r) { r.keepalive(ms); });
        },
        setcolorkey: function () {
            checkCount('setcolorkey', arguments, 3);
            var bgr = [toInt32(arguments[0]), toInt32(arguments[1]), toInt32(arguments[2])];
            if (bgr.indexOf(null) >= 0) throw new TypeError('external.setcolorkey: type mismatch');
            send(function (r) { r.setcolorkey(bgr[0], bgr[1], bgr[2]); });
        }
    };

    function member(name) {
        return typeof name === 'string' ? name.toLowerCase() : '';
    }

    var external = new Proxy({}, {
        get: function (target, name) {
            var key = member(name);
            if (key === 'opacity') return opacity;
            return Object.prototype.hasOwnProperty.call(members, key) ? members[key] : undefined;
        },
        set: function (target, name, value) {
            if (member(name) !== 'opacity')
                throw new TypeError('external has no member ' + String(name));
            var number = toDouble(value);
            if (number !== null) {
                opacity = number;
                send(function (r) { r.putOpacity(number); });
            }
            return true;
        },
        has: function (target, name) {
            var key = member(name);
            return key === 'opacity' || Object.prototype.hasOwnProperty.call(members, key);
        },
        defineProperty: function () { return false; },
        deleteProperty: function () { return false; }
    });

    Object.defineProperty(window, 'external', {
        value: external, writable: false, configurable: false, enumerable: true
    });
})(QWebChannel);
