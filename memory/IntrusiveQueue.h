// First-in first-out queue of pool chunks or regions, linked through the nodes' own
// `queueNext` field, so queueing never allocates and never fails. A node is in at most one
// queue at a time; whoever holds the queue's lock owns the links of the nodes in it.
#pragma once

#include <cstddef>

namespace tarn {

template <class Node>
class IntrusiveQueue {
public:
    bool Empty() const { return head == nullptr; }
    size_t Length() const { return length; }
    Node* Front() const { return head; }

    void PushBack(Node* node) {
        node->queueNext = nullptr;
        if (tail)
            tail->queueNext = node;
        else
            head = node;
        tail = node;
        ++length;
    }

    Node* PopFront() {
        Node* node = head;
        if (node) {
            head = node->queueNext;
            if (!head) tail = nullptr;
            node->queueNext = nullptr;
            --length;
        }
        return node;
    }

    // Moves every node of `other` to the back of this queue, keeping their order.
    void Append(IntrusiveQueue& other) {
        if (other.Empty()) return;
        if (tail)
            tail->queueNext = other.head;
        else
            head = other.head;
        tail = other.tail;
        length += other.length;
        other.head = other.tail = nullptr;
        other.length = 0;
    }

    // Unlinks and returns the first node for which `pred` holds, or null.
    template <class Pred>
    Node* RemoveFirst(Pred pred) {
        Node* previous = nullptr;
        for (Node* node = head; node; previous = node, node = node->queueNext) {
            if (!pred(node)) continue;
            if (previous)
                previous->queueNext = node->queueNext;
            else
                head = node->queueNext;
            if (tail == node) tail = previous;
            node->queueNext = nullptr;
            --length;
            return node;
        }
        return nullptr;
    }

    template <class F>
    void ForEach(F f) const {
        for (Node* node = head; node; node = node->queueNext) f(node);
    }

private:
    Node* head = nullptr;
    Node* tail = nullptr;
    size_t length = 0;
};

}  // namespace tarn
